#!/usr/bin/env python3
"""Keeps the commands the README and docs/ show from going stale.

  docs_check.py quickstart SOURCE BUILD   runs the publishing quick start's
      blocks as they stand, against the tools of BUILD, in a temporary home,
      nginx on 127.0.0.1 and a free port
  docs_check.py commands SOURCE BUILD     checks every other command shown:
      the program or script exists and knows each option shown, each ctest
      selection and test filter selects a test, each target and build
      setting exists
  docs_check.py selftest                  the snippet reader's own table
"""

import os
import re
import shlex
import signal
import socket
import subprocess
import sys
import tempfile
import time

QUICK_START = '## Quick start'


def documents(source):
    names = ['README.md'] + sorted('docs/' + n for n in os.listdir(os.path.join(source, 'docs'))
                                   if n.endswith('.md'))
    return {name: open(os.path.join(source, name), encoding='utf-8').read() for name in names}


def quick_start_blocks(text):
    """The ```sh blocks between the Quick start heading and the next heading of its level."""
    start = text.index(QUICK_START + '\n')
    end = text.find('\n## ', start + len(QUICK_START))
    section = text[start:end if end >= 0 else len(text)]
    return re.findall(r'^```sh\n(.*?)^```$', section, re.S | re.M)


def snippets(text):
    """Every command-like text the document shows: the lines of code blocks
    (fenced or indented by four blanks) and inline code spans."""
    found = []
    in_fence = False
    for line in text.split('\n'):
        if line.startswith('```'):
            in_fence = not in_fence
            continue
        if in_fence or line.startswith('    '):
            found.append(line.strip())
    prose = re.sub(r'^```.*?^```$', '', text, flags=re.S | re.M)
    prose = '\n'.join(l for l in prose.split('\n') if not l.startswith('    '))
    found += [' '.join(span.split()) for span in re.findall(r'`([^`]+)`', prose)]
    return [s for s in found if s]


def segments(snippet):
    """The commands of one snippet: split at &&, at ; and at a pipe between
    blanks; a leading `bash`, a cron schedule and variable settings dropped."""
    result = []
    # A pipe inside [ ] is a usage line's choice, not a pipe.
    depth, plain = 0, ''
    for c in snippet:
        depth += (c == '[') - (c == ']')
        plain += ' ' if c == '|' and depth > 0 else c
    for part in re.split(r'\s*(?:&&|\|\||;|\s\|\s)\s*', plain):
        try:
            words = shlex.split(part, comments=False)
        except ValueError:
            words = part.split()
        while words and (re.fullmatch(r'[A-Z_]+=\S*', words[0]) or words[0] in ('bash', 'sudo')):
            words = words[1:]
        if words[:5] and all(re.fullmatch(r'[0-9*/,-]+', w) for w in words[:5]) and len(words) > 5:
            words = words[5:]
        if words:
            result.append(words)
    return result


def kind(words):
    """Which of our commands the words run, or None for someone else's."""
    first = words[0]
    if first in ('ctest', 'cmake', 'morvane-publish'):
        return first
    if re.fullmatch(r'(\./)?scripts/[\w./-]+|\.ci/run', first):
        return 'script'
    if re.fullmatch(r'build/([\w-]+/)*[\w-]+', first) or re.fullmatch(
            r'\w+_(bench|tests)|kill_anywhere|large_package|older_updater', first):
        return 'program'
    if re.fullmatch(r'fuzz_\w+', first):
        return 'fuzz'
    return None


def options(words):
    return sorted({m for w in words for m in re.findall(r'(?<![\w-])(--[a-z][a-z0-9-]*)', w)})


SELF_TABLE = [
    # snippet, expected commands (kind, first word, options)
    ('bash scripts/run.sh', [('script', 'scripts/run.sh', [])]),
    ('cmake --build build --target servers_tests && ctest --test-dir build -L servers --output-on-failure',
     [('cmake', 'cmake', ['--build', '--target']),
      ('ctest', 'ctest', ['--output-on-failure', '--test-dir'])]),
    ('17 3 * * * morvane-publish --key ~/k.pem --renew ~/www 1.3.0 && rsync -a a b:/c/',
     [('morvane-publish', 'morvane-publish', ['--key', '--renew']), (None, 'rsync', [])]),
    ('delta_bench --large byte|insert', [('program', 'delta_bench', ['--large'])]),
    ('build/bench/update_bench [--size 256] [--files 16] [--durable yes] [--against PATH | --keyed yes]',
     [('program', 'build/bench/update_bench', ['--against', '--durable', '--files', '--keyed', '--size'])]),
    ('openssl pkey -in key.pem -pubout -outform DER | tail -c 32 | base64',
     [(None, 'openssl', []), (None, 'tail', []), (None, 'base64', [])]),
    ('MOVE;..\\morvane.exe;APP_PATH\\BACKUP', [(None, 'MOVE', []), (None, '..morvane.exe', []),
                                             (None, 'APP_PATHBACKUP', [])]),
    ('fuzz_zip_tree -seed=N -max_total_time=30 NEWDIR fuzz/corpus/zip_tree', [('fuzz', 'fuzz_zip_tree', [])]),
    ('DISPLAY=:1 build/tests/kill_anywhere 300', [('program', 'build/tests/kill_anywhere', [])]),
    # Folders and files in the build folder are places, not commands.
    ('build/publisher/', [(None, 'build/publisher/', [])]),
    ('build-demo/updater-screen.png', [(None, 'build-demo/updater-screen.png', [])]),
]


def selftest():
    failures = 0
    for snippet, expected in SELF_TABLE:
        got = [(kind(w), w[0], options(w)) for w in segments(snippet)]
        if got != expected:
            print(f'FAIL {snippet!r}\n  got      {got}\n  expected {expected}')
            failures += 1
    text = 'x\n## Quick start\n\n```sh\na\n```\n\n    b\n\n```sh\nc\nd\n```\n## Next\n```sh\ne\n```\n'
    if quick_start_blocks(text) != ['a\n', 'c\nd\n']:
        print('FAIL quick start blocks', quick_start_blocks(text))
        failures += 1
    if snippets('`one two`\n\n    three\n```\nfour\n```\n`fi\nve`') != ['three', 'four', 'one two', 'fi ve']:
        print('FAIL snippets', snippets('`one two`\n\n    three\n```\nfour\n```\n`fi\nve`'))
        failures += 1
    print('selftest:', 'ok' if failures == 0 else f'{failures} failed')
    return 1 if failures else 0


# --- the quick start -----------------------------------------------------------


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def quickstart(source, build):
    blocks = quick_start_blocks(open(os.path.join(source, 'docs/publishing.md'), encoding='utf-8').read())
    if len(blocks) < 5:
        print(f'quick start: only {len(blocks)} blocks found')
        return 1
    with tempfile.TemporaryDirectory(prefix='docs-quickstart-') as top:
        # nginx's workers may run as another user when the suite runs as root.
        os.chmod(top, 0o755)
        home = os.path.join(top, 'home')
        work = os.path.join(top, 'source')
        os.makedirs(home)
        os.makedirs(work)
        os.symlink(os.path.abspath(build), os.path.join(work, 'build'))
        env = dict(os.environ, HOME=home, PORT=str(free_port()))
        script = 'set -euo pipefail\numask 022\n' + ''.join(blocks)
        pidfile = os.path.join(home, 'morvane/nginx/nginx.pid')
        try:
            run = subprocess.run(['bash', '-c', script], cwd=work, env=env, text=True,
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=240)
            # The last block stops nginx; its master removes the pid file as it ends.
            stopped = wait_for(lambda: not os.path.exists(pidfile))
        finally:
            stop_nginx(pidfile)
        print(run.stdout)
        if run.returncode != 0:
            print(f'quick start: ended with status {run.returncode}')
            return 1
        served = os.path.join(home, 'morvane/www/clientfiles/morvane/version.php')
        answer = open(served, encoding='utf-8', newline='').read().split('\r\n')
        checks = [
            (answer[0] == '1.3.1', 'the served answer names 1.3.1'),
            (len(answer) > 1 and answer[1].startswith('morvane-release v1 version=1.3.1 '),
             'the served answer carries its signed release line'),
            ('Packaging Metadata' in run.stdout and '"version":"1.3.0.0"' in run.stdout,
             'readelf shows the package note'),
            ('Cache-Control: no-cache' in run.stdout, 'nginx served the package with no-cache'),
            ('a user of 1.3.0 fetches' in run.stdout, 'the comparison reports what 1.3.0 fetches'),
            (stopped, 'the last block stopped nginx'),
        ]
        failed = [what for ok, what in checks if not ok]
        for what in failed:
            print('quick start: not so:', what)
        return 1 if failed else 0


def wait_for(condition, seconds=10):
    for _ in range(seconds * 10):
        if condition():
            return True
        time.sleep(0.1)
    return condition()


def stop_nginx(pidfile):
    """Stops the nginx the quick start started, when its last block did not."""
    try:
        pid = int(open(pidfile).read().strip())
    except (OSError, ValueError):
        return
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        pass


# --- every other command --------------------------------------------------------


class Checker:
    def __init__(self, source, build):
        self.source = source
        self.build = os.path.abspath(build)
        self.problems = []
        self.checked = 0
        self._help = None
        self._targets = None
        self._cache = None

    def problem(self, where, snippet, what):
        self.problems.append(f'{where}: `{snippet}`: {what}')

    def program_path(self, first):
        if first.startswith('build/'):
            return os.path.join(self.build, first[len('build/'):])
        for folder in ('bench', 'tests', 'tests/proof', 'scripts/tools'):
            path = os.path.join(self.build, folder, first)
            if os.path.exists(path):
                return path
        return os.path.join(self.build, 'tests', first)

    def publish_help(self):
        if self._help is None:
            tool = os.path.join(self.build, 'publisher/morvane-publish')
            self._help = subprocess.run([tool, '--help'], text=True, capture_output=True).stdout
        return self._help

    def targets(self):
        if self._targets is None:
            listing = subprocess.run([os.environ.get('DOCS_MAKE_PROGRAM') or 'ninja', '-C', self.build, '-t', 'targets', 'all'], text=True,
                                     capture_output=True).stdout
            self._targets = {line.split(':')[0] for line in listing.split('\n')}
        return self._targets

    def cache(self):
        if self._cache is None:
            self._cache = open(os.path.join(self.build, 'CMakeCache.txt')).read()
        return self._cache

    def check(self, where, snippet, words):
        what = kind(words)
        if what is None:
            return
        self.checked += 1
        getattr(self, 'check_' + what.replace('-', '_'))(where, snippet, words)

    def check_script(self, where, snippet, words):
        path = os.path.join(self.source, words[0].lstrip('./') if words[0] != '.ci/run' else '.ci/run')
        if not os.path.isfile(path):
            return self.problem(where, snippet, f'{words[0]} does not exist')
        text = open(path).read()
        for option in options(words):
            if option not in text:
                self.problem(where, snippet, f'{words[0]} knows no option {option}')
        for word in words[1:]:
            setting = re.match(r'-D(\w+)=', word)
            if setting and not self.defined(setting.group(1)):
                self.problem(where, snippet, f'the build has no setting {setting.group(1)}')
        if words[0].endswith('fuzz.sh'):
            for target in words[1:]:
                if re.fullmatch(r'[a-z_]+', target) and target not in text:
                    self.problem(where, snippet, f'fuzz.sh has no target {target}')

    def defined(self, setting):
        for folder, _, files in os.walk(self.source):
            if '/build' in folder or '/.git' in folder:
                continue
            for name in files:
                if name == 'CMakeLists.txt' or name.endswith('.cmake'):
                    if setting in open(os.path.join(folder, name)).read():
                        return True
        return False

    def check_program(self, where, snippet, words):
        path = self.program_path(words[0])
        if not os.access(path, os.X_OK):
            return self.problem(where, snippet, f'{words[0]} was not built ({path})')
        gtest = [w for w in words if w.startswith('--gtest_filter=')]
        if gtest:
            listed = subprocess.run([path, '--gtest_list_tests', gtest[0]], text=True, capture_output=True,
                                    env=dict(os.environ, QT_QPA_PLATFORM='offscreen'), timeout=60).stdout
            if not re.search(r'^  \S', listed, re.M):
                self.problem(where, snippet, f'{gtest[0]} selects no test')
        binary = open(path, 'rb').read()
        for option in options(words):
            if option.startswith('--gtest') or (option + '\0').encode() in binary:
                continue
            self.problem(where, snippet, f'{words[0]} knows no option {option}')

    def check_fuzz(self, where, snippet, words):
        target = words[0]
        listing = open(os.path.join(self.source, 'fuzz/CMakeLists.txt')).read()
        name = target[len('fuzz_'):]
        if target not in listing and not re.search(rf'\b{name}\b', listing):
            self.problem(where, snippet, f'no fuzz target {target}')

    def check_morvane_publish(self, where, snippet, words):
        for option in options(words):
            if option not in self.publish_help():
                self.problem(where, snippet, f'morvane-publish knows no option {option}')

    def check_ctest(self, where, snippet, words):
        args = []
        i = 1
        while i < len(words):
            word = words[i]
            if word == '--test-dir':
                i += 2
                continue
            if word in ('-L', '-R', '-LE', '-E'):
                args += [word, words[i + 1]]
                i += 2
                continue
            i += 1
        listed = subprocess.run(['ctest', '--test-dir', self.build, '-N'] + args, text=True,
                                capture_output=True).stdout
        total = re.search(r'Total Tests: (\d+)', listed)
        if not total or int(total.group(1)) == 0:
            self.problem(where, snippet, 'selects no test')

    def check_cmake(self, where, snippet, words):
        if '--target' in words:
            for target in words[words.index('--target') + 1:]:
                if target.startswith('-'):
                    break
                if target not in self.targets():
                    self.problem(where, snippet, f'no target {target}')
        if '--component' in words:
            component = words[words.index('--component') + 1]
            if f'COMPONENT {component}' not in open(os.path.join(self.source, 'publisher/CMakeLists.txt')).read():
                self.problem(where, snippet, f'no install component {component}')
        for word in words:
            setting = re.match(r'-D(\w+)=', word)
            if setting and not re.search(rf'^{setting.group(1)}:', self.cache(), re.M) \
                    and setting.group(1) not in ('CMAKE_BUILD_TYPE', 'CMAKE_C_COMPILER', 'CMAKE_CXX_COMPILER'):
                self.problem(where, snippet, f'the build has no setting {setting.group(1)}')


def commands(source, build):
    checker = Checker(source, build)
    for name, text in documents(source).items():
        if name == 'docs/publishing.md':
            # The quick start's blocks run as they stand (the quickstart check).
            start = text.index(QUICK_START + '\n')
            end = text.find('\n## ', start + len(QUICK_START))
            text = text[:start] + re.sub(r'^```sh\n.*?^```$', '', text[start:end], flags=re.S | re.M) + text[end:]
        for snippet in snippets(text):
            for words in segments(snippet):
                checker.check(name, snippet, words)
    for line in checker.problems:
        print(line)
    print(f'commands: {checker.checked} checked, {len(checker.problems)} stale')
    return 1 if checker.problems or checker.checked == 0 else 0


def main(argv):
    if argv[1:] == ['selftest']:
        return selftest()
    if len(argv) == 4 and argv[1] in ('quickstart', 'commands'):
        return {'quickstart': quickstart, 'commands': commands}[argv[1]](argv[2], argv[3])
    print(__doc__)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
