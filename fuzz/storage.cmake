# The look at a compound file before it is opened, and the salvage of one that fails it.
parleym_add_fuzz_target(NAME fuzz_compound_file_check SOURCES FuzzCompoundFileCheck.cpp)
parleym_add_fuzz_target(NAME fuzz_compound_file_salvage SOURCES FuzzCompoundFileSalvage.cpp)
