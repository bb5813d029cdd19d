#!/usr/bin/env bash
# Draws the screens of the screenshot tests anew into tests/fixtures/screens/ after a change of
# look; review them (git diff shows which changed) before committing.
#
#   scripts/update-screens.sh [BUILD_FOLDER]      (default build/test, as scripts/test.sh makes it)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/test}
cmake --build "$build" --target forms_tests
SDL_VIDEODRIVER=dummy VELLOQ_UPDATE_SCREENS=1 "$build/bin/forms_tests" --gtest_filter='Screens/Screenshots.*'
git status --short tests/fixtures/screens
