#!/usr/bin/env bash
# The midigen tool is a client of the shared library alone: it needs libmidigen.so.2 and defines
# none of the library's own code (the parser, the encoder, the file writer of namespace midigen,
# the component or its compiled request), so it cannot drift from what the library plays. The
# inline functions of the public headers (weak symbols, or local ones where the build hides
# inlines and keeps them out of line) are the client's own: their debug information places them
# in include/midigen/ or include/midiout/.
# Usage: check-tool-symbols.sh TOOL
set -euo pipefail
tool=$1
readelf -d "$tool" | grep -q 'Shared library: \[libmidigen\.so\.2\]' ||
    { echo "tool-symbols: $tool does not load libmidigen.so.2" >&2; exit 1; }
carried=$(nm -C -l --defined-only "$tool" |
    grep -E ' [TtDdBbRr] (midigen::|TMidiGen|TMGCompiledRequest|midiout::)' |
    grep -Ev '/include/(midigen|midiout)/[^/]*\.h:[0-9]+$' || true)
if [ -n "$carried" ]; then
    echo "tool-symbols: $tool carries code of the library:" >&2
    echo "$carried" | head -n 20 >&2
    exit 1
fi
echo "tool-symbols: $tool uses libmidigen.so.2 and carries none of its code"
