// What the search benchmarks share: prose in the scripts they cover, for
// each a query that occurs in none of its texts, and a clock of the thread's
// CPU time, which other programs on a busy machine do not stretch.
#pragma once

#include <cstddef>
#include <ctime>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace brimlet::bench {

enum class Script { English, Russian, Greek, Arabic, Cjk, Emoji };

inline constexpr Script kScripts[] = {Script::English, Script::Russian, Script::Greek,
                                      Script::Arabic,  Script::Cjk,     Script::Emoji};

inline const char* nameOf(Script script) {
    constexpr const char* kNames[] = {"English", "Russian", "Greek", "Arabic", "CJK", "Emoji"};
    return kNames[static_cast<int>(script)];
}

inline const std::vector<std::string>& wordsOf(Script script) {
    static const std::vector<std::vector<std::string>> pools = {
        {"the",     "history", "keeps",  "every", "text",   "copied",  "from",   "other",
         "window",  "while",   "panel",  "shows", "latest", "entries", "search", "field",
         "clip",    "board",   "change", "count", "moves",  "when",    "new",    "content",
         "arrives", "timer",   "fires",  "twice", "second", "store",   "entry",  "Value"},
        {"история", "хранит", "каждый",      "текст",      "скопированный", "из",     "другого",
         "окна",    "пока",   "панель",      "Показывает", "последние",     "записи", "поиск",
         "поле",    "буфер",  "обмена",      "счётчик",    "меняется",      "когда",  "приходит",
         "новое",   "таймер", "срабатывает", "дважды",     "секунду",       "запись", "значение"},
        {"η",           "ιστορία",    "κρατά",   "κάθε",       "κείμενο",  "που",
         "αντιγράφηκε", "από",        "άλλο",    "παράθυρο",   "ενώ",      "το",
         "πάνελ",       "Δείχνει",    "τις",     "τελευταίες", "εγγραφές", "αναζήτηση",
         "πεδίο",       "πρόχειρο",   "αλλάζει", "μετρητής",   "όταν",     "νέο",
         "περιεχόμενο", "χρονόμετρο", "δύο",     "φορές",      "ΑΠΟΘΗΚΗ",  "τιμής"},
        {"السجل", "يحفظ",    "كل",     "نص",     "منسوخ",  "من",       "نافذة",
         "أخرى",  "بينما",   "اللوحة", "تعرض",   "أحدث",   "المدخلات", "البحث",
         "حقل",   "الحافظة", "يتغير",  "العداد", "عندما",  "يصل",      "محتوى",
         "جديد",  "المؤقت",  "مرتين",  "ثانية",  "المخزن", "قيمة",     "٢٠٢٤"},
        {"历史", "记录", "保存",   "每一段",   "从",     "其他", "窗口", "复制的",
         "文本", "面板", "显示",   "最新的",   "条目",   "搜索", "字段", "剪贴板",
         "内容", "变化", "计数器", "定时器",   "每秒",   "触发", "两次", "存储",
         "数值", "，",   "。",     "クリップ", "ボード", "기록"},
        {"😀",
         "😂",
         "🥰",
         "👍🏽",
         "👨‍👩‍👧",
         "🇩🇪",
         "🎉",
         "🔥",
         "❤️",
         "🐍",
         "🦊",
         "🌍",
         "🍕",
         "🚀",
         "✨",
         "🙏🏻",
         "🏳️‍🌈",
         "💡",
         "📋",
         "⌛",
         "ok",
         "🤔"},
    };
    return pools[static_cast<int>(script)];
}

// Absent from every text of its script.
inline std::string_view absentQueryOf(Script script) {
    constexpr std::string_view kQueries[] = {"zebra crossing", "жираф",  "καμηλοπάρδαλη",
                                             "زرافة",          "长颈鹿", "🦒🦓"};
    return kQueries[static_cast<int>(script)];
}

// About `size` bytes of words of `script`, never cut inside a word; scripts
// written without spaces get none.
inline std::string prose(Script script, std::size_t size, unsigned seed) {
    const auto& pool = wordsOf(script);
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
    std::string text;
    text.reserve(size + 64);
    while (text.size() < size) {
        text += pool[pick(random)];
        if (random() % 12 == 0) {
            text += '\n';
        } else if (script != Script::Cjk) {
            text += ' ';
        }
    }
    return text;
}

inline double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace brimlet::bench
