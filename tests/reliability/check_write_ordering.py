#!/usr/bin/env python3
"""Checks a run's system calls, recorded by `strace -f -y`, against the
rules that keep a crash at any moment from losing a file:

1. every rename over a name is preceded by a flush of the file renamed, if
   the run wrote it;
2. every folder that gained or lost a name is synced (fsync of the folder,
   or a syncfs after the change) before the run ends;
3. nothing is created or truncated through a link at its final name: every
   open that creates or truncates carries O_EXCL or O_NOFOLLOW.

Usage: check_write_ordering.py TRACE WORKING_DIRECTORY
Prints one line per broken rule and exits 1 when there is any."""
import os
import re
import sys

trace_path, cwd = sys.argv[1], sys.argv[2]
call = re.compile(r'^(?:\[pid +\d+\] |\d+ +)?(\w+)\((.*)\) += (-?\d+)(?:<(.*?)>)?')
string = re.compile(r'"((?:[^"\\]|\\.)*)"')
fd_path = re.compile(r'^(-?\d+|AT_FDCWD)(?:<(.*?)>)?$')


def absolute(path, base=cwd):
    return os.path.normpath(path if path.startswith('/') else os.path.join(base, path))


def arguments(text):
    parts, depth, current = [], 0, ''
    quoted = False
    for i, c in enumerate(text):
        if c == '"' and (i == 0 or text[i - 1] != '\\'):
            quoted = not quoted
        if not quoted and c in '[{(':
            depth += 1
        if not quoted and c in ']})':
            depth -= 1
        if c == ',' and depth == 0 and not quoted:
            parts.append(current.strip())
            current = ''
        else:
            current += c
    parts.append(current.strip())
    return parts


def name_at(dirfd, path_arg):
    path = string.match(path_arg).group(1)
    match = fd_path.match(dirfd)
    base = match.group(2) if match and match.group(2) else cwd
    return absolute(path, base)


dirty_files = set()      # written since their last flush
dirty_folders = {}       # folder -> the change that left it unsynced
problems = []


def changed(folder, what):
    dirty_folders.setdefault(folder, what)


with open(trace_path, errors='replace') as trace:
    for line in trace:
        m = call.match(line)
        if not m:
            continue
        name, args, result = m.group(1), arguments(m.group(2)), int(m.group(3))
        if result < 0:
            continue
        if name in ('open', 'openat'):
            dirfd, path_arg, flags = (args[0], args[1], args[2]) if name == 'openat' else ('AT_FDCWD', args[0], args[1])
            path = name_at(dirfd, path_arg)
            if ('O_CREAT' in flags or 'O_TRUNC' in flags) and 'O_EXCL' not in flags and 'O_NOFOLLOW' not in flags:
                problems.append(f'open for writing may follow a link: {line.strip()}')
            if 'O_CREAT' in flags:
                changed(os.path.dirname(path), f'create {path}')
        elif name in ('write', 'pwrite64', 'ftruncate'):
            match = fd_path.match(args[0])
            if match and match.group(2):
                dirty_files.add(match.group(2))
        elif name in ('fsync', 'fdatasync'):
            match = fd_path.match(args[0])
            if match and match.group(2):
                dirty_files.discard(match.group(2))
                dirty_folders.pop(match.group(2), None)
        elif name == 'syncfs':
            dirty_folders.clear()
        elif name in ('rename', 'renameat', 'renameat2'):
            if name == 'rename':
                source, target = absolute(string.match(args[0]).group(1)), absolute(string.match(args[1]).group(1))
            else:
                source, target = name_at(args[0], args[1]), name_at(args[2], args[3])
            if source in dirty_files:
                problems.append(f'renamed before it was flushed: {source} -> {target}')
            dirty_files.discard(source)
            changed(os.path.dirname(source), f'rename {source}')
            changed(os.path.dirname(target), f'rename to {target}')
        elif name in ('link', 'symlink'):
            target = absolute(string.match(args[1]).group(1))
            changed(os.path.dirname(target), f'{name} {target}')
        elif name == 'mkdir':
            target = absolute(string.match(args[0]).group(1))
            changed(os.path.dirname(target), f'{name} {target}')
        elif name in ('linkat', 'symlinkat', 'mkdirat'):
            where = {'linkat': (2, 3), 'symlinkat': (1, 2), 'mkdirat': (0, 1)}[name]
            target = name_at(args[where[0]], args[where[1]])
            changed(os.path.dirname(target), f'{name} {target}')
        elif name in ('unlink', 'rmdir', 'unlinkat'):
            path = name_at(args[0], args[1]) if name == 'unlinkat' else absolute(string.match(args[0]).group(1))
            changed(os.path.dirname(path), f'{name} {path}')

for folder, what in sorted(dirty_folders.items()):
    problems.append(f'folder never synced after {what}')
for problem in problems:
    print(problem)
sys.exit(1 if problems else 0)
