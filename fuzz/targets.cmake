# The fuzz targets, each built from NAME_fuzzer.cpp as fuzz_NAME with its seeds in corpus/NAME.
set(ADSL_FUZZ_TARGETS split_command_line selector_index dial_entry read_console_input quote_pppd_word)
