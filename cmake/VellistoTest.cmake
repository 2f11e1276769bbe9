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

# A CTest test running the program; the arguments after the labels are more of its environment.
function(vellisto_gtest_run test program labels)
    add_test(NAME ${test} COMMAND ${program})
    set(environment VELLISTO_SOURCE_DIR=${PROJECT_SOURCE_DIR} ${ARGN})
    set_tests_properties(${test} PROPERTIES TIMEOUT 600 ENVIRONMENT "${environment}")
    if(labels)
        set_tests_properties(${test} PROPERTIES LABELS "${labels}")
    endif()
endfunction()

# SHARDS n: the program's tests run as n CTest tests, each a share of them (GoogleTest's
# sharding), so that a long program does not keep one core busy alone at the end of a run.
function(vellisto_gtest name)
    cmake_parse_arguments(T "" "SHARDS" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} vellisto_test_support GTest::gmock GTest::gtest_main
        Threads::Threads)
    if(VELLISTO_PCH)
        target_compile_options(${name} PRIVATE -Winvalid-pch)
        target_precompile_headers(${name} REUSE_FROM vellisto_gtest_pch)
    endif()
    if(T_SHARDS)
        math(EXPR last "${T_SHARDS} - 1")
        foreach(shard RANGE ${last})
            math(EXPR number "${shard} + 1")
            vellisto_gtest_run(${name}_${number}of${T_SHARDS} ${name} "${T_LABELS}"
                GTEST_TOTAL_SHARDS=${T_SHARDS} GTEST_SHARD_INDEX=${shard})
        endforeach()
    else()
        vellisto_gtest_run(${name} ${name} "${T_LABELS}")
    endif()
    if("threads" IN_LIST T_LABELS)
        add_dependencies(vellisto_thread_tests ${name})
    endif()
endfunction()
