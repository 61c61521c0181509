# Tests of the help window and the compiled-help reader.
