#!/bin/bash
# early_reader.sh CLI ARGS...: tamsolt-cli piped into a reader that stops after
# one line; the transfer must still end with its own exit code, not SIGPIPE's.
"$@" | head -n 1
exit "${PIPESTATUS[0]}"
