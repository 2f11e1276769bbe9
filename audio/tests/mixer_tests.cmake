# The recording mixer on fake cards. Its real ALSA backend is tested against a PulseAudio
# daemon together with the window's buttons (ui/tests).
vellisto_gtest(mixer_tests SOURCES RecMixerTest.cpp LIBS vellisto_mixer_testing vellisto_capture_testing)
