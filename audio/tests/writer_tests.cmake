# The writer's tests read its files back with libsndfile (linked) and sox/ffprobe (run).
find_package(PkgConfig REQUIRED)
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)

add_library(vellisto_writer_test_support STATIC WriterTestSupport.cpp)
target_link_libraries(vellisto_writer_test_support PUBLIC PkgConfig::SNDFILE)

vellisto_gtest(writer_tests
    SOURCES WaveFileWriterTest.cpp
    LIBS vellisto_audio vellisto_writer_test_support)
vellisto_gtest(writer_crash_tests
    SOURCES WaveFileCrashTest.cpp
    LIBS vellisto_audio vellisto_writer_test_support)
