# Encoder functions (filled by the tile decoder's round-trip tests and the data set builder).
