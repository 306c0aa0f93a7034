# The look at a compound file before it is opened.
parleym_add_fuzz_target(NAME fuzz_compound_file_check SOURCES FuzzCompoundFileCheck.cpp)
if(NOT PARLEYM_FUZZ AND PARLEYM_BUILD_TESTS)
  # The seed files once more, as a smoke test of their own.
  file(GLOB compound_seeds ${CMAKE_CURRENT_SOURCE_DIR}/corpus/fuzz_compound_file_check/*)
  add_test(NAME fuzz_compound_file_check_seeds COMMAND fuzz_compound_file_check ${compound_seeds})
  set_tests_properties(fuzz_compound_file_check_seeds PROPERTIES LABELS "native;fuzz")
endif()
