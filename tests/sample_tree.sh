# The sample distribution tree, examples/sample-dist, for the shell tests of Install: the
# tree the C++ tests and the demo start from as well. Sourced by the tests.
# sample_tree DEST: a fresh copy of it at DEST, which must not exist yet.
quorva_sample_tree=$(cd "$(dirname "${BASH_SOURCE[0]}")/../examples/sample-dist" && pwd)
sample_tree() { cp -R "$quorva_sample_tree" "$1"; }
