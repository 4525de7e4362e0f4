#!/usr/bin/env python3
"""Runs the commands README and docs/ show that neither the suite nor .ci/run
runs already: the benchmarks, the proofs, the demo, the fuzzing commands.

  docs_run.py run SOURCE BUILD FUZZ_BUILD   runs each with its magnitudes made
      small (sizes, rounds, seconds, kill points: the table below, added where
      the command leaves them at their defaults), so that a command that no
      longer starts, parses its options or finishes fails CI
  docs_run.py selftest                      the scaling table's own test

What each figure means is the benchmark's business; here only that the
command as shown still runs to its end with status 0.
"""

import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import docs_check

# What a shown option becomes; options a program is always given, small,
# where the command leaves them at their defaults.
SMALL = {
    '--size': '2', '--sizes': '2', '--files': '40', '--rounds': '1', '--interruptions': '1',
    '--large': '8', '--chunk-from': '4', '--gib': '0.01',
}
ALWAYS = {
    'update_bench': ['--size', '--files', '--rounds'],
    'delta_bench': ['--size', '--files', '--rounds', '--interruptions'],
    'cache_bench': ['--size', '--files', '--rounds'],
    'network_bench': ['--size', '--files', '--rounds'],
    'chunk_bench': ['--size', '--rounds'],
    'unzip_bench': ['--sizes', '--files', '--rounds'],
    'signature_bench': ['--size', '--rounds'],
    'zip_bench': ['--size', '--files', '--rounds'],
    'download_bench': ['--sizes', '--rounds'],
    'large_package': ['--gib'],
}
# Options that take a value; a span that ends with one is a fragment of
# prose, not a command.
VALUED = set(SMALL) | {'--program', '--against', '--durable', '--keyed', '--rate', '--only',
                       '--changed', '--hostile', '--folder', '--served', '--installed'}
# A benchmark's modes it calls itself, with arguments only it gives.
INNER_MODES = {'--build', '--extract', '--one', '--make-large'}
KILL_POINTS = '4'
FUZZ_SECONDS = '1'


def why_not_run(words):
    """Why a shown command is left to others or is no command, or None."""
    first = os.path.basename(words[0])
    if any('[' in w or ']' in w for w in words):
        return 'a usage line'
    if first.endswith('_tests'):
        return 'the suite runs it'
    if first in ('test.sh', 'setup.sh', 'run') or words[0] == '.ci/run':
        return '.ci/run runs it'
    if first == 'fuzz.sh' and not any(re.fullmatch(r'[a-z_]+', w) for w in words[1:]):
        return '.ci/run runs every target'
    if first.startswith('fuzz_') and len(words) == 1:
        return "a target's name; scripts/fuzz.sh runs each"
    if any(w in INNER_MODES for w in words[1:]):
        return "a mode the benchmark starts itself"
    if words[-1] in VALUED:
        return 'a fragment of prose'
    return None


def small(words, placeholders):
    """The command with its magnitudes made small and its placeholders filled."""
    program = os.path.basename(words[0])
    out = [words[0]]
    i = 1
    while i < len(words):
        word = words[i]
        if word in SMALL and i + 1 < len(words) and re.fullmatch(r'[\d.,]+', words[i + 1]):
            out += [word, min_of(words[i + 1], SMALL[word])]
            i += 2
            continue
        out.append(word)
        i += 1
    for option in ALWAYS.get(program, []):
        if option not in out and not (option == '--size' and '--large' in out and program == 'zip_bench'):
            out += [option, SMALL[option]]
    return [fill(w, program, placeholders) for w in out]


def min_of(shown, small_value):
    """The smaller of the two, for a shown figure may already be small."""
    try:
        return shown if float(shown) <= float(small_value) else small_value
    except ValueError:
        return small_value


def fill(word, program, placeholders):
    if '|' in word:
        word = word.split('|')[0]  # a choice: its first
    if program == 'kill_anywhere' and word.isdigit():
        return KILL_POINTS
    if program == 'fuzz.sh' and word.isdigit():
        return FUZZ_SECONDS
    if program.startswith('fuzz_'):
        word = re.sub(r'^-max_total_time=\d+$', '-max_total_time=' + FUZZ_SECONDS, word)
        word = re.sub(r'^-seed=N$', '-seed=1', word)
    for name, value in placeholders.items():
        word = re.sub(rf'(?<![\w-]){name}(?![\w-])', value, word)
    return word


SELF_TABLE = [
    # shown, made small (placeholders OLD=/b, TARGET=zip_tree, DIR=/d, NEWDIR=/n)
    ('update_bench --size 256 --rounds 30 --against OLD/tests/qt_update_child',
     'update_bench --size 2 --rounds 1 --against /b/tests/qt_update_child --files 40'),
    ('delta_bench --large byte|insert',
     'delta_bench --large byte --size 2 --files 40 --rounds 1 --interruptions 1'),
    ('delta_bench --size 32 --files 250 --rounds 0 --interruptions 10',
     'delta_bench --size 2 --files 40 --rounds 0 --interruptions 1'),
    ('zip_bench --chunked --large 140 --rounds 6', 'zip_bench --chunked --large 8 --rounds 1 --files 40'),
    ('build/tests/kill_anywhere 300', 'build/tests/kill_anywhere 4'),
    ('scripts/fuzz.sh 30 TARGET', 'scripts/fuzz.sh 1 zip_tree'),
    ('fuzz_zip_tree -seed=N -max_total_time=30 NEWDIR fuzz/corpus/zip_tree',
     'fuzz_zip_tree -seed=1 -max_total_time=1 /n fuzz/corpus/zip_tree'),
    ('large_package', 'large_package --gib 0.01'),
]
SELF_SKIPS = [
    ('build/tests/journal_tests --gtest_filter=Runs/FailedRun.*', 'the suite runs it'),
    ('update_bench --durable yes --rounds 4 --against', 'a fragment of prose'),
    ('zip_bench --build', 'a mode the benchmark starts itself'),
    ('build/bench/chunk_bench [--size 100] [--rounds 5]', 'a usage line'),
    ('fuzz_delta', "a target's name; scripts/fuzz.sh runs each"),
    ('scripts/fuzz.sh 600', '.ci/run runs every target'),
    ('scripts/fuzz.sh', '.ci/run runs every target'),
    ('update_bench --size 16 --files 16000 --rounds 3 --durable yes', None),
]


def selftest():
    placeholders = {'OLD': '/b', 'TARGET': 'zip_tree', 'DIR': '/d', 'NEWDIR': '/n'}
    failures = 0
    for shown, expected in SELF_TABLE:
        got = ' '.join(small(shown.split(), placeholders))
        if got != expected:
            print(f'FAIL {shown!r}\n  got      {got}\n  expected {expected}')
            failures += 1
    for shown, expected in SELF_SKIPS:
        got = why_not_run(shown.split())
        if got != expected:
            print(f'FAIL skip {shown!r}: got {got!r}, expected {expected!r}')
            failures += 1
    print('selftest:', 'ok' if failures == 0 else f'{failures} failed')
    return 1 if failures else 0


def shown_commands(source):
    """Each distinct command the documents show, with where it is shown first."""
    seen = {}
    for name, text in docs_check.documents(source).items():
        for snippet in docs_check.snippets(text):
            for words in docs_check.segments(snippet):
                if docs_check.kind(words) in ('program', 'script', 'fuzz'):
                    seen.setdefault(tuple(words), name)
    return seen


def executable(words, source, build, fuzz_build):
    first = words[0]
    if first.startswith('fuzz_'):
        return [os.path.join(fuzz_build, 'fuzz', first)]
    if docs_check.kind(words) == 'script':
        return ['bash', os.path.join(source, first.lstrip('./'))]
    return [docs_check.Checker(source, build).program_path(first)]


def run(source, build, fuzz_build):
    source, build, fuzz_build = (os.path.abspath(p) for p in (source, build, fuzz_build))
    failed, ran = [], 0
    with tempfile.TemporaryDirectory(prefix='docs-run-') as top:
        corpus = os.path.join(top, 'corpus')
        shutil.copytree(os.path.join(source, 'fuzz/corpus/zip_tree'), corpus)
        os.makedirs(os.path.join(top, 'new'))
        placeholders = {'OLD': build, 'TARGET': 'zip_tree', 'NEWDIR': os.path.join(top, 'new'),
                        'DIR': corpus}
        done = set()
        for words, where in shown_commands(source).items():
            reason = why_not_run(list(words))
            command = small(list(words), placeholders)
            if not reason and tuple(command) in done:
                reason = 'the same, made small, ran already'
            if reason:
                print(f'-- {" ".join(words)}: {reason}')
                continue
            done.add(tuple(command))
            argv = executable(command, source, build, fuzz_build) + expand(command[1:])
            ran += 1
            if not run_one(argv, ' '.join(command), where, source, top):
                failed.append(f'{where}: `{" ".join(words)}`')
    for line in failed:
        print('FAILED', line)
    print(f'docs run: {ran} ran, {len(failed)} failed')
    return 1 if failed or ran == 0 else 0


def expand(arguments):
    result = []
    for word in arguments:
        result += sorted(glob.glob(word)) if '*' in word else [word]
    return result


def run_one(argv, shown, where, source, top):
    env = {k: v for k, v in os.environ.items() if k != 'DISPLAY'}
    env.update(QT_QPA_PLATFORM='offscreen', UPDATER_TEST_ARTIFACTS=os.path.join(top, 'artifacts'))
    started = time.monotonic()
    try:
        done = subprocess.run(argv, cwd=source, env=env, text=True, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=600)
        status, output = done.returncode, done.stdout
    except subprocess.TimeoutExpired as expired:
        status, output = 'timeout', str(expired.stdout or '')
    seconds = time.monotonic() - started
    print(f'{"ok" if status == 0 else "FAIL"} {seconds:6.1f} s  {shown}  ({where})')
    if status != 0:
        print(output[-4000:])
    return status == 0


def main(argv):
    if argv[1:] == ['selftest']:
        return selftest()
    if len(argv) == 5 and argv[1] == 'run':
        return run(argv[2], argv[3], argv[4])
    print(__doc__)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
