#!/usr/bin/env bash
# late-failure.sh PACKAGE.msi EXIT_WITH_CODE.exe OUT.msi
# A copy of a test package with one more deferred step at the end, after the
# program's registration, the earlier product's removal and the arrangement
# for a restart: the tests' exit_with_code helper, ending with 1, so that the
# installation fails after the program succeeded. The helper is run from
# where the build put it (a Wine path on drive Z:).
set -euo pipefail
good=$1 helper=$2 out=$3
tmp=$out.tmp
cp "$good" "$tmp"
helper_win="Z:${helper//\//\\}"
# Type 3122: an EXE named by a property, deferred, not impersonated, its exit code checked.
msibuild "$tmp" -q "INSERT INTO Property (Property, Value) VALUES ('FAILING_STEP', '$helper_win')" \
                -q "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('FailAfterRegistration', 3122, 'FAILING_STEP', '1')" \
                -q "INSERT INTO InstallExecuteSequence (Action, Condition, Sequence) VALUES ('FailAfterRegistration', '\$Control=3', 6590)"
mv "$tmp" "$out"
