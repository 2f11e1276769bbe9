# Playback: the ring between feeder and output callback, and the test backend.
vellisto_gtest(playback_tests SOURCES PlaybackTest.cpp LIBS vellisto_playback_testing)
# The PortAudio backend on a test-only ALSA device that writes to a file; ALSA reads its
# configuration once per process, so it is set in the test program's environment.
vellisto_gtest(playback_portaudio_tests SOURCES PlaybackPortAudioTest.cpp LIBS vellisto_audio
               LABELS threads)
set_tests_properties(playback_portaudio_tests PROPERTIES ENVIRONMENT
    "VELLISTO_SOURCE_DIR=${PROJECT_SOURCE_DIR};ALSA_CONFIG_PATH=${CMAKE_CURRENT_SOURCE_DIR}/playback_alsa.conf")
