# Reads a valgrind memcheck log and prints one line per "definitely lost" loss record:
#
#   OWNER <TAB> BYTES <TAB> FIRST CALLER
#
# OWNER is "program" when the first frame above the allocation functions (malloc, calloc, realloc,
# operator new, strdup, the g_malloc family...) is the viewer's own code: a source file of this
# repository or the viewer binary itself; otherwise "library". BYTES counts direct and indirect
# bytes. Used by leak-check.sh; tests/corpus/valgrind-sample.txt shows the forms it handles.
function flush() {
    if (bytes != "") print (ours ? "program" : "library") "\t" bytes "\t" caller
    bytes = ""; caller = ""; ours = 0; decided = 0
}
/definitely lost in loss record/ {
    flush()
    bytes = $2
    gsub(/,/, "", bytes)
    next
}
bytes != "" && /^==[0-9]+== +(at|by) 0x/ {
    if (decided) next
    line = $0
    sub(/^==[0-9]+== +(at|by) 0x[0-9A-Fa-f]+: /, "", line)
    if (line ~ /^(malloc|calloc|realloc|memalign|posix_memalign|aligned_alloc|operator new(\[\])?|strdup|strndup|g_malloc|g_malloc0|g_realloc|g_try_malloc|g_try_malloc0|g_try_realloc|g_memdup|g_strdup|g_slice_alloc|g_slice_alloc0)[ (]/) next
    caller = line
    # Our code: a frame with a source file of this repository, or inside the viewer binary.
    ours = (line ~ /\((app|camera|store|decoder|encoder|render|panel)\/|\/quorvik\)|\.(cpp|h):[0-9]+\)$/) && line !~ /\(in \/(usr\/)?lib/
    decided = 1
    next
}
bytes != "" && /^==[0-9]+== *$/ { flush() }
END { flush() }
