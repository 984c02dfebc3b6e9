#pragma once

// Decodes tile t of sub-image `sub` at `level` (2..5) into residual_tile.
void decode_tile(int sub, int level, int t);
