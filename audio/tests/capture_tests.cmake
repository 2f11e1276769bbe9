# Capture device tests: CWaveIn, the device list and the file backend on the scripted backend,
# and the real PortAudio path reading a file through ALSA's file plugin.
vellisto_gtest(wavein_tests SOURCES WaveInTest.cpp LIBS vellisto_capture_testing LABELS threads)
# ALSA reads its configuration once per process, so the test-only one is set in the
# environment of the test program, never from inside it.
vellisto_gtest(capture_portaudio_tests SOURCES CapturePortAudioTest.cpp
               LIBS vellisto_capture_testing LABELS threads)
set_tests_properties(capture_portaudio_tests PROPERTIES ENVIRONMENT
    "VELLISTO_SOURCE_DIR=${PROJECT_SOURCE_DIR};ALSA_CONFIG_PATH=${CMAKE_CURRENT_SOURCE_DIR}/capture_alsa.conf")
