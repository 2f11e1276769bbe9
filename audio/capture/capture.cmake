# The capture device and its backends. PortAudio and ALSA stay private to vellisto_audio.
find_package(PkgConfig REQUIRED)
pkg_check_modules(VELLISTO_CAPTURE_DEPS REQUIRED IMPORTED_TARGET portaudio-2.0 alsa)
target_sources(vellisto_audio PRIVATE
    capture/DeviceLabels.cpp
    capture/WaveIn.cpp
    capture/WaveInDevice.cpp
    capture/QueuedCaptureBackend.cpp
    capture/FileCaptureBackend.cpp
    capture/portaudio_backend.cpp
    PortAudioStartUp.cpp)
target_link_libraries(vellisto_audio PRIVATE PkgConfig::VELLISTO_CAPTURE_DEPS)

# The scripted backend, for tests of anything that records.
add_library(vellisto_capture_testing STATIC capture/TestCaptureBackend.cpp)
target_link_libraries(vellisto_capture_testing PUBLIC vellisto_audio)
