# The real-time soak's generator, headless recorder and checker (bench/soak.sh runs them). The
# writer's pwrite and pwritev are wrapped in this program only, for the stalling-disk run.
add_executable(vellisto_soak soak.cpp)
target_link_libraries(vellisto_soak PRIVATE vellisto_engine vellisto_presets)
target_link_options(vellisto_soak PRIVATE -Wl,--wrap=pwrite -Wl,--wrap=pwritev)
