# shellcheck shell=sh
# Sourced by the scripts that run Wine for the tests: the project's own prefix
# ($QM_WINEPREFIX, or build/wineprefix in the repository) and a quiet Wine without the
# .NET and HTML installers. Plain sh, for wine-run.sh and wine-prefix.sh: what the bash
# scripts share besides is in wine-checks.sh.
wine_env_dir=$(CDPATH= cd -- "$(dirname -- "$0")" && pwd)
WINEPREFIX=${QM_WINEPREFIX:-$(CDPATH= cd -- "$wine_env_dir/../.." && pwd)/build/wineprefix}
# QM_WINEDEBUG lets a test read one of Wine's trace channels (the event log is one).
WINEDEBUG=${QM_WINEDEBUG:--all}
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
