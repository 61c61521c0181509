# Tests of the shipped help file.
