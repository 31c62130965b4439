# Each suite runs on a private session bus of its own, started and ended
# around it by a fixture (tests/support/session-bus), and so does every program
# its tests start: none reaches the developer's bus, and none tries to
# start a bus of its own, which libdbus does through dbus-launch.
# brimlet_session_bus(NAME) sets NAME_bus_properties for set_tests_properties;
# brimlet_discover_tests(TARGET ...) takes gtest_discover_tests' arguments.
function(brimlet_session_bus name)
  set(bus ${CMAKE_BINARY_DIR}/buses/${name})
  set(script ${PROJECT_SOURCE_DIR}/tests/support/session-bus)
  add_test(NAME ${name}.bus.start COMMAND ${script} start ${bus})
  add_test(NAME ${name}.bus.stop COMMAND ${script} stop ${bus})
  set_tests_properties(${name}.bus.start PROPERTIES FIXTURES_SETUP ${name}.bus)
  set_tests_properties(${name}.bus.stop PROPERTIES FIXTURES_CLEANUP ${name}.bus)
  set(${name}_bus_properties FIXTURES_REQUIRED ${name}.bus
    ENVIRONMENT_MODIFICATION "DBUS_SESSION_BUS_ADDRESS=set:unix:path=${bus}/socket" PARENT_SCOPE)
endfunction()

function(brimlet_discover_tests target)
  brimlet_session_bus(${target})
  if(NOT PROPERTIES IN_LIST ARGN)
    list(APPEND ARGN PROPERTIES)
  endif()
  gtest_discover_tests(${target} ${ARGN} ${${target}_bus_properties})
endfunction()
