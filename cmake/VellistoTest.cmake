# vellisto_gtest(NAME SOURCES... LIBS libs... LABELS labels...): one GoogleTest program
# registered with CTest, linked with the shared test support (tests/support/TestFiles.h) and
# GoogleMock's matchers. Programs labelled "threads" are what the ThreadSanitizer build runs;
# the target vellisto_thread_tests builds just those.
add_custom_target(vellisto_thread_tests)

# Parsing GoogleTest, GoogleMock and the standard library is most of a test program's compile
# time, so every GoogleTest program uses one header precompiled once, by a target of its own
# with the same flags (-Winvalid-pch: see VELLISTO_PCH).
if(VELLISTO_PCH)
    add_library(vellisto_gtest_pch OBJECT ${PROJECT_BINARY_DIR}/generated/vellisto_pch.cpp)
    target_link_libraries(vellisto_gtest_pch PRIVATE vellisto_test_support GTest::gmock
        GTest::gtest_main Threads::Threads)
    target_compile_options(vellisto_gtest_pch PRIVATE -Winvalid-pch)
    target_precompile_headers(vellisto_gtest_pch PRIVATE
        <gtest/gtest.h> <gmock/gmock.h>
        <algorithm> <atomic> <chrono> <cmath> <condition_variable> <cstdint> <cstring>
        <filesystem> <fstream> <functional> <map> <memory> <mutex> <optional> <sstream>
        <string> <thread> <vector>)
endif()

function(vellisto_gtest name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} vellisto_test_support GTest::gmock GTest::gtest_main
        Threads::Threads)
    if(VELLISTO_PCH)
        target_compile_options(${name} PRIVATE -Winvalid-pch)
        target_precompile_headers(${name} REUSE_FROM vellisto_gtest_pch)
    endif()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600 ENVIRONMENT "VELLISTO_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
    if(T_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
        if("threads" IN_LIST T_LABELS)
            add_dependencies(vellisto_thread_tests ${name})
        endif()
    endif()
endfunction()
