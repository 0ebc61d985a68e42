# Included from tests/cli/CMakeLists.txt: its cli_run and variables apply here.
