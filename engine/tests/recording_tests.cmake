# Whole recordings through the control, the recording thread and the file and test capture
# backends; the control's checks, questions and texts; the block loop's allocations.
vellisto_gtest(recording_tests SOURCES RecordingThreadTest.cpp LIBS vellisto_engine vellisto_capture_testing
    LABELS recording threads SHARDS 2)
vellisto_gtest(control_tests SOURCES RecordingControlTest.cpp LIBS vellisto_engine vellisto_capture_testing
    LABELS recording threads)
# A block buffer too large to allocate must fail quietly, not abort the sanitizer's allocator.
set_tests_properties(control_tests PROPERTIES ENVIRONMENT
    "VELLISTO_SOURCE_DIR=${PROJECT_SOURCE_DIR};ASAN_OPTIONS=allocator_may_return_null=1;TSAN_OPTIONS=allocator_may_return_null=1")
vellisto_gtest(recording_alloc_tests SOURCES RecordingAllocTest.cpp
    LIBS vellisto_engine vellisto_capture_testing vellisto_thread_allocations
    LABELS recording)

# The real capture path: PortAudio reads a raw file through ALSA's file plugin, configured by
# the capture tests' ALSA configuration (read once per process, so set in the environment).
vellisto_gtest(recording_portaudio_tests SOURCES RecordingPortAudioTest.cpp
    LIBS vellisto_engine vellisto_capture_testing LABELS recording threads)
set_tests_properties(recording_portaudio_tests PROPERTIES ENVIRONMENT
    "VELLISTO_SOURCE_DIR=${PROJECT_SOURCE_DIR};ALSA_CONFIG_PATH=${PROJECT_SOURCE_DIR}/audio/tests/capture_alsa.conf")

# The words for every value the engine reports.
vellisto_gtest(recording_texts_tests SOURCES RecordingTextsTest.cpp LIBS vellisto_engine
    LABELS recording)

# The level monitor: the device let go and taken again, its readouts, its failures; on the test
# backend and on the real capture path (ALSA configured as for the capture tests).
vellisto_gtest(level_monitor_tests SOURCES LevelMonitorTest.cpp
    LIBS vellisto_engine vellisto_capture_testing LABELS recording threads)
set_tests_properties(level_monitor_tests PROPERTIES ENVIRONMENT
    "VELLISTO_SOURCE_DIR=${PROJECT_SOURCE_DIR};ALSA_CONFIG_PATH=${PROJECT_SOURCE_DIR}/audio/tests/capture_alsa.conf")
