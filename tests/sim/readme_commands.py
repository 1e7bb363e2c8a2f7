#!/usr/bin/env python3
"""Runs the aikorvane-sim commands that README.md and docs/*.md show in their
shell blocks, where they need nothing outside the repository.

usage: readme_commands.py SIM REPOSITORY

A command is skipped when it names an input that is not in the repository
(site.json, /opt/site, DIR, ...) or a pattern that matches nothing; files it
writes (--events, --plot, --junit, --html, > FILE) go to a temporary folder.
Each command runs where its block runs it (the repository root, or the folder
of a `cd` line before it) and must exit with status 0: every command shown
is shown succeeding. Exit status 1 when one does not, or when too few ran to
mean anything.
"""

import glob
import os
import re
import shlex
import subprocess
import sys
import tempfile

OUTPUT_OPTIONS = {"--events", "--plot", "--junit", "--html", "--device-log"}
SHELL_FENCE = re.compile(r"^```(sh|bash|shell)\s*$")
# Fewer than this many run means the extraction broke, not that all is well.
LEAST_RUN = 6


def shell_blocks(text):
    """Lines of each shell code block of a Markdown text."""
    blocks, block = [], None
    for line in text.splitlines():
        if block is None:
            if SHELL_FENCE.match(line.strip()):
                block = []
        elif line.strip() == "```":
            blocks.append(block)
            block = None
        elif block and block[-1].endswith("\\"):
            block[-1] = block[-1][:-1] + " " + line.strip()  # a continued line
        else:
            block.append(line)
    return blocks


def commands(document, repository):
    """(folder, words) of each simulator command of the document, in order."""
    with open(document, encoding="utf-8") as f:
        text = f.read()
    found = []
    for block in shell_blocks(text):
        folder = repository
        for line in block:
            try:
                words = shlex.split(line, comments=True)
            except ValueError:  # no command of ours: an unclosed quote of a pipeline
                continue
            if not words:
                continue
            if words[0] == "cd" and len(words) == 2:
                folder = os.path.normpath(os.path.join(folder, words[1]))
            elif words[0] == "aikorvane-sim" or words[0].endswith("/aikorvane-sim"):
                found.append((folder, line.strip(), words))
    return found


def prepared(folder, words, sim, scratch):
    """The argument list to run and where its output goes, or (None, why)."""
    arguments, output = [sim], None
    words = words[1:]
    i = 0
    while i < len(words):
        word = words[i]
        if word == ">":
            if i + 1 >= len(words):
                return None, "a redirection without a file"
            output = os.path.join(scratch, os.path.basename(words[i + 1]))
            i += 2
            continue
        if word in OUTPUT_OPTIONS and i + 1 < len(words):
            arguments += [word, os.path.join(scratch, os.path.basename(words[i + 1]))]
            i += 2
            continue
        if "..." in word or (word.isalpha() and word.isupper()):
            return None, "a placeholder " + word
        if word.startswith("["):
            return None, "a synopsis"
        if not word.startswith("-") and ("/" in word or "." in word):
            if any(c in word for c in "*?["):
                matches = sorted(glob.glob(os.path.join(folder, word)))
                if not matches:
                    return None, word + " matches nothing here"
                arguments += [os.path.relpath(m, folder) + ("/" if word.endswith("/") else "")
                              for m in matches]
                i += 1
                continue
            if not os.path.exists(os.path.join(folder, word)):
                return None, word + " is not in the repository"
        arguments.append(word)
        i += 1
    return (arguments, output), None


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    sim, repository = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    documents = [os.path.join(repository, "README.md")] + sorted(
        glob.glob(os.path.join(repository, "docs", "*.md")))
    ran, failed = 0, []
    with tempfile.TemporaryDirectory() as scratch:
        for document in documents:
            for folder, line, words in commands(document, repository):
                name = os.path.relpath(document, repository) + ": " + line
                run, why = prepared(folder, words, sim, scratch)
                if run is None:
                    print("skipped " + name + " (" + why + ")")
                    continue
                arguments, output = run
                try:
                    done = subprocess.run(arguments, cwd=folder, stdout=subprocess.PIPE,
                                          stderr=subprocess.PIPE, timeout=300)
                except subprocess.TimeoutExpired:
                    failed.append(name + ": no end within 300 s")
                    continue
                if output is not None:
                    with open(output, "wb") as f:
                        f.write(done.stdout)
                ran += 1
                status = done.returncode
                print("status %d: %s" % (status, name))
                if status != 0:
                    why = "killed by signal %d" % -status if status < 0 else "status %d" % status
                    failed.append(name + ": " + why + "\n" +
                                  done.stderr.decode("utf-8", "replace")[-2000:] +
                                  done.stdout.decode("utf-8", "replace")[-2000:])
    for failure in failed:
        print("FAILED " + failure)
    if ran < LEAST_RUN:
        print("FAILED only %d commands ran (at least %d expected)" % (ran, LEAST_RUN))
        return 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
