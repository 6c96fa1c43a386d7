# qt_test_discover(<target> <prefix>): one CTest test <prefix>.<function> per test function of a
# Qt Test executable, found when CTest runs (the executable's -functions list), so a function
# added to the source runs without touching CMake. Each runs in a process of its own on the
# offscreen platform.
function(qt_test_discover target prefix)
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_discover.cmake")
  file(GENERATE OUTPUT "${script}" CONTENT "
set(exe \"$<TARGET_FILE:${target}>\")
if(NOT EXISTS \"\${exe}\")
  add_test(${prefix}.NOT_BUILT \"\${exe}\")
  return()
endif()
execute_process(COMMAND \"${CMAKE_COMMAND}\" -E env QT_QPA_PLATFORM=offscreen \"\${exe}\" -functions
  OUTPUT_VARIABLE listed RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  add_test(${prefix}.DISCOVERY_FAILED \"${CMAKE_COMMAND}\" -E false) # fails: no case ran
  return()
endif()
string(REGEX MATCHALL \"[A-Za-z_][A-Za-z0-9_]*\\\\(\\\\)\" functions \"\${listed}\")
foreach(function IN LISTS functions)
  string(REPLACE \"()\" \"\" name \"\${function}\")
  add_test(${prefix}.\${name} \"\${exe}\" \"\${name}\")
  set_tests_properties(${prefix}.\${name} PROPERTIES
    ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 60)
endforeach()
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()
