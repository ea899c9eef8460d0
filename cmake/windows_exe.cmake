# Kelvane.exe: Unicode GUI program, one self-contained file.
enable_language(RC)

# Small and self-contained: no runtime DLLs, no unused code, no symbols, and
# no exception machinery (app/lean_runtime.cpp says why). Optimised across files
# at link time, in one partition: 8.5 KiB smaller, and the same bytes every build.
# Doubles in SSE2 rather than x87, as the unit tests' build has them: judging a
# recording takes a third of the time (1150 ms to 420 through qemu), and needs a
# Pentium 4, Athlon 64 or later, as Windows 8 and later do anyway.
set(KELVANE_SIZE_FLAGS -Os -ffunction-sections -fdata-sections -fno-exceptions -fno-rtti
                       -fno-asynchronous-unwind-tables -flto -flto-partition=one -msse2
                       -mfpmath=sse)
target_compile_options(kelvane_core PRIVATE ${KELVANE_SIZE_FLAGS})
target_compile_definitions(kelvane_core PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                              _WIN32_WINNT=0x0601)

add_executable(Kelvane WIN32
  app/main.cpp
  app/frmKelvane.cpp
  app/dpi.cpp
  app/lean_runtime.cpp
  device/Module1.cpp
  device/system_winmm.cpp
  device/tone_player.cpp
  device/wave_recorder.cpp
  device/loopback_check.cpp
  device/device_query.cpp
  report/report_surface.cpp
  report/report_accessible.cpp
  win32/clipboard.cpp
  win32/system_library.cpp
  win32/accessibility.cpp
  resources/Kelvane.rc
)
target_compile_options(Kelvane PRIVATE ${KELVANE_SIZE_FLAGS})
target_link_libraries(Kelvane PRIVATE kelvane_core)
target_link_options(Kelvane PRIVATE -municode -static -s -Wl,--gc-sections -Os -flto -flto-partition=one -msse2 -mfpmath=sse)
# Reproducible: no link time stamp, and no build-machine paths in the image, so two builds of one
# commit are byte-identical wherever they ran.
target_compile_options(Kelvane PRIVATE -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.)
target_compile_options(kelvane_core PRIVATE -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.)
target_link_options(Kelvane PRIVATE -Wl,--no-insert-timestamp)
# ASLR and DEP (binutils' defaults, asked for anyway), no Terminal Server compatibility shims, and
# a subsystem version that matches the manifest's Windows 7 floor.
target_link_options(Kelvane PRIVATE -Wl,--dynamicbase -Wl,--nxcompat -Wl,--tsaware
  -Wl,--major-subsystem-version,6 -Wl,--minor-subsystem-version,1
  -Wl,--major-os-version,6 -Wl,--minor-os-version,1)
# windres: the scripts are UTF-8 and say so with #pragma code_page(65001).
set_source_files_properties(resources/Kelvane.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_CURRENT_SOURCE_DIR}/resources/Kelvane.ico;${CMAKE_CURRENT_SOURCE_DIR}/resources/Kelvane.manifest")
