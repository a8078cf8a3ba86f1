#!/usr/bin/env bash
# late-failure.sh PACKAGE.msi EXIT_WITH_CODE.exe OUT.msi [SEQUENCE CONDITION]
# A copy of a test package with one more deferred step that fails: the
# tests' exit_with_code helper, ending with 1. By default at the end of an
# installation, after the program's registration, the earlier product's
# removal and the arrangement for a restart (6590, $Control=3), so that the
# installation fails after the program succeeded; SEQUENCE and CONDITION
# put it elsewhere (a removal's, say). NO_FAILING_STEP=1 on the command line
# skips it, so that the suite can remove what a scenario left. The copy is
# a product of its own (a
# product and package code of its own), which updates the original. The
# helper is run from where the build put it (a Wine path on drive Z:).
set -euo pipefail
good=$1 helper=$2 out=$3 sequence=${4:-6590} condition=${5:-'$Control=3'}
tmp=$out.tmp
cp "$good" "$tmp"
helper_win="Z:${helper//\//\\}"
# Type 3122: an EXE named by a property, deferred, not impersonated, its exit code checked.
guid() { tr '[:lower:]' '[:upper:]' < /proc/sys/kernel/random/uuid; }
summary=$(msiinfo suminfo "$tmp")
field() { sed -n "s/^$1: //p" <<< "$summary"; }
msibuild "$tmp" -s "$(field Subject)" "$(field Author)" "$(field Template)" "{$(guid)}"
msibuild "$tmp" -q "UPDATE Property SET Value = '{$(guid)}' WHERE Property = 'ProductCode'" \
                -q "INSERT INTO Property (Property, Value) VALUES ('FAILING_STEP', '$helper_win')" \
                -q "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('FailingStep', 3122, 'FAILING_STEP', '1')" \
                -q "INSERT INTO InstallExecuteSequence (Action, Condition, Sequence) VALUES ('FailingStep', '$condition AND NOT NO_FAILING_STEP', $sequence)"
mv "$tmp" "$out"
