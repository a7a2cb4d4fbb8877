# The fuzz harnesses, shared by two builds:
# - with SALVAGE_BUILD_FUZZ (clang, the `fuzz` preset) each becomes a
#   libFuzzer program fuzz_<name> (tests/fuzz/CMakeLists.txt);
# - in every build with tests, one program `fuzz_replay` links all of them
#   (each entry point renamed) and CTest replays the kept crash reproducers
#   and hand-made seeds of each harness through it, so a fixed crash stays
#   fixed under any compiler.
set(SALVAGE_FUZZ_DIR ${CMAKE_SOURCE_DIR}/tests/fuzz)
set(SALVAGE_FUZZ_HARNESSES
  partitions ntfs ntfs_advanced ntfs_deep lznt1
  fat16 fat16_advanced fat32 fat32_advanced fat32_formatted exfat exfat_advanced
  ext hfsplus hfsplus_search carve search ewf export)

if(NOT TARGET salvage_fuzz_support)
  add_library(salvage_fuzz_support STATIC ${SALVAGE_FUZZ_DIR}/FuzzSupport.cpp)
  target_link_libraries(salvage_fuzz_support PUBLIC salvage_core)
  target_include_directories(salvage_fuzz_support PUBLIC ${SALVAGE_FUZZ_DIR})
  # The carve harness may load the default settings file made by the build.
  target_compile_definitions(salvage_fuzz_support PUBLIC
    SALVAGE_FILE_SETTING="${CMAKE_BINARY_DIR}/FileSetting.txt")
  add_dependencies(salvage_fuzz_support file_setting)
endif()
