# Playback for listening to a take: the output backends. PortAudio stays private to vellisto_audio.
target_sources(vellisto_audio PRIVATE playback/PlaybackRing.cpp playback/portaudio_playback.cpp)

# The backend that plays as far as a test pulls it, for tests of anything that listens.
add_library(vellisto_playback_testing STATIC playback/TestPlaybackBackend.cpp)
target_link_libraries(vellisto_playback_testing PUBLIC vellisto_audio)
