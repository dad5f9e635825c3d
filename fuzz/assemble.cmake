# Signed content assembly from raw document bytes; seeds from make-seed-corpus.sh.
vrd_add_fuzzer(assemble_fuzz SOURCES assemble_fuzz.cpp LIBS vrd_api)
