# fuzz_replay: every harness in one ordinary program, for CTest. Each
# harness's entry point is renamed to salvageFuzz_<name>; a generated table
# maps names to them.
include(${CMAKE_SOURCE_DIR}/tests/fuzz/Harnesses.cmake)

set(table "")
set(decls "")
set(objects "")
foreach(h ${SALVAGE_FUZZ_HARNESSES})
  add_library(fuzz_replay_${h} OBJECT ${SALVAGE_FUZZ_DIR}/fuzz_${h}.cpp)
  target_link_libraries(fuzz_replay_${h} PRIVATE salvage_fuzz_support)
  target_compile_definitions(fuzz_replay_${h} PRIVATE LLVMFuzzerTestOneInput=salvageFuzz_${h})
  string(APPEND decls "extern \"C\" int salvageFuzz_${h}(const std::uint8_t*, std::size_t);\n")
  string(APPEND table "    {\"${h}\", salvageFuzz_${h}},\n")
  list(APPEND objects $<TARGET_OBJECTS:fuzz_replay_${h}>)
endforeach()
set(SALVAGE_FUZZ_DECLS "${decls}")
set(SALVAGE_FUZZ_TABLE "${table}")
configure_file(${SALVAGE_FUZZ_DIR}/ReplayTable.cpp.in ${CMAKE_CURRENT_BINARY_DIR}/ReplayTable.cpp @ONLY)

add_executable(fuzz_replay ${SALVAGE_FUZZ_DIR}/ReplayMain.cpp ${CMAKE_CURRENT_BINARY_DIR}/ReplayTable.cpp ${objects})
target_link_libraries(fuzz_replay PRIVATE salvage_fuzz_support)

# One test per harness: its reproducers and seeds, each file one input.
foreach(h ${SALVAGE_FUZZ_HARNESSES})
  add_test(NAME fuzz.replay.${h}
    COMMAND fuzz_replay ${h} ${SALVAGE_FUZZ_DIR}/regressions/${h} ${SALVAGE_FUZZ_DIR}/seeds/${h})
  set_tests_properties(fuzz.replay.${h} PROPERTIES ENVIRONMENT "${SALVAGE_TEST_ENV}" TIMEOUT 300)
endforeach()
