# The recording mixer and its ALSA backend (alsa-lib comes with the capture device's
# dependencies and stays private to vellisto_audio).
target_sources(vellisto_audio PRIVATE mixer/RecMixer.cpp mixer/AlsaMixerBackend.cpp)

# The fake card, for tests of anything that configures a mixer.
add_library(vellisto_mixer_testing STATIC mixer/FakeMixerBackend.cpp)
target_link_libraries(vellisto_mixer_testing PUBLIC vellisto_audio)
