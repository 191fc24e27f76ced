# quorbit_add_tests(DIR): a folder of tests (or fuzz targets), read only
# when BUILD_TESTING is on, so that the deliverables build without the test
# tools.
macro(quorbit_add_tests dir)
    if(BUILD_TESTING)
        add_subdirectory(${dir})
    endif()
endmacro()

# quorbit_add_gtest(NAME SOURCES... [LIBS libs...] [ENV VAR=value...] [TIMEOUT s]
#                   [LABELS labels...] [PARTS part=gtest_filter...])
# One GoogleTest executable registered with ctest as a single test per binary
# (keeps ctest output short and lets a binary share expensive fixtures). A
# long binary can instead be registered in PARTS, one ctest test NAME_part per
# filter, so that `ctest -j` runs its parts side by side.
function(quorbit_add_gtest name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;ENV;LABELS;PARTS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} testsupport GTest::gtest GTest::gtest_main
        GTest::gmock)
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set(tests)
    if(ARG_PARTS)
        foreach(part ${ARG_PARTS})
            string(FIND "${part}" "=" at)
            string(SUBSTRING "${part}" 0 ${at} part_name)
            math(EXPR at "${at} + 1")
            string(SUBSTRING "${part}" ${at} -1 filter)
            add_test(NAME ${name}_${part_name} COMMAND ${name} --gtest_filter=${filter})
            list(APPEND tests ${name}_${part_name})
        endforeach()
    else()
        add_test(NAME ${name} COMMAND ${name})
        set(tests ${name})
    endif()
    set(env "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0"
            "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/cmake/lsan-suppressions.txt"
            "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
            "QT_QPA_PLATFORM=offscreen" ${ARG_ENV})
    set_tests_properties(${tests} PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "${env}")
    if(ARG_LABELS)
        set_tests_properties(${tests} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
endfunction()
