#!/usr/bin/env python3
"""Runs aikorvane-sim on inputs whose names and texts hold bytes that are no
UTF-8 (a Latin-1 alarm name in settings and in a profile, a test named with
0xE9, site folders and a CSV file whose names have such a byte, made here) and reads every
JSON, JUnit XML, SVG and HTML output with strict readers: the outputs must be
valid UTF-8 and well-formed, show U+FFFD where the bytes were, and say so.

usage: valid_outputs.py SIM FIXTURES

Exit status 1 when an output is refused or a case's note is missing.
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

NOTE = "bytes that are no UTF-8 are shown as U+FFFD"
FFFD = "\ufffd"


def strict_json(data):
    return json.loads(data.decode("utf-8", "strict"))


def strict_json_lines(data):
    return [json.loads(line) for line in data.decode("utf-8", "strict").splitlines()]


def strict_xml(data):
    data.decode("utf-8", "strict")
    return ElementTree.fromstring(data)


def strict_html(data):
    return data.decode("utf-8", "strict")


def first_line_json(data):
    return json.loads(data.decode("utf-8", "strict").splitlines()[0])


def check_findings_say_so(document):
    # Every finding that names the Latin-1 rule shows U+FFFD and says so.
    findings = [f for site in document["sites"] for f in site["findings"]]
    named = [f for f in findings if FFFD in f["place"]]
    assert named, "no finding shows U+FFFD: %r" % findings
    for finding in named:
        assert finding["message"].endswith("(" + NOTE + ")"), finding


def site_shows_fffd(document):
    assert FFFD in document["sites"][0]["site"], document["sites"][0]["site"]


def junit_names_fffd(root):
    names = [case.get("name") for case in root.iter("testcase")]
    assert any(FFFD in name for name in names), names


def html_says_so(text):
    assert NOTE in text and FFFD in text


def events_show_fffd(events):
    assert any(FFFD in json.dumps(event, ensure_ascii=False) for event in events)


def svg_shows_fffd(root):
    assert FFFD in "".join(root.itertext())


def summary_shows_fffd(summary):
    assert any(FFFD in alarm["name"] for alarm in summary["alarms"]), summary["alarms"]


def error_names_fffd(events):
    errors = [event for event in events if event["event"] == "error"]
    assert errors and FFFD in errors[-1]["file"], errors


def cases(fixtures, site_ff, site_e9, csv_e9):
    """(what, arguments, {output: (reader, test)}, note on standard error)."""
    check_fixture = os.path.join(fixtures, "check", "alarm-rule-unknown-comparison.latin1-name")
    latin1 = os.path.join(fixtures, "backtest", "latin1-names")
    patch = os.path.join(fixtures, "backtest", "latin1-patch.json")
    return [
        ("check, a Latin-1 rule name in the profile",
         ["check", "--format", "json", check_fixture],
         {"stdout": (strict_json, check_findings_say_so)}, False),
        ("check -v, a site folder named with 0xFF",
         ["check", "-v", "--format", "json", site_ff],
         {"stdout": (strict_json, site_shows_fffd)}, True),
        ("test --junit, a test named with 0xE9",
         ["test", "--junit", "junit.xml",
          os.path.join(fixtures, "test-command", "latin1-name.yaml")],
         {"junit.xml": (strict_xml, junit_names_fffd)}, True),
        ("replay, Latin-1 alarm names in settings and profile",
         ["--settings", os.path.join(latin1, "settings.json"), "--workdir", latin1,
          "--csv", os.path.join(latin1, "history", "2026-11-02.csv"), "--events", "events.jsonl",
          "--plot", "plot.svg", "--summary-format", "json"],
         {"events.jsonl": (strict_json_lines, events_show_fffd),
          "plot.svg": (strict_xml, svg_shows_fffd),
          "stdout": (first_line_json, summary_shows_fffd)}, True),
        ("replay --csv, a CSV file named with 0xE9 with a bad row",
         ["--csv", csv_e9, "--events", "csv-events.jsonl"],
         {"csv-events.jsonl": (strict_json_lines, error_names_fffd)}, True),
        ("backtest, a site folder named with 0xE9 and Latin-1 alarm names",
         ["backtest", "--format", "json", "--html", "report.html", "--candidate-patch", patch,
          site_e9],
         {"stdout": (strict_json, site_shows_fffd),
          "report.html": (strict_html, html_says_so)}, True),
    ]


def run_case(sim, case, scratch):
    what, arguments, outputs, noted = case
    run = subprocess.run([sim] + arguments, cwd=scratch, capture_output=True, timeout=120)
    failures = []
    if run.returncode not in (0, 1):
        failures.append("exit status %d: %r" % (run.returncode, run.stderr))
    for name, (reader, test) in outputs.items():
        try:
            if name == "stdout":
                data = run.stdout
            else:
                with open(os.path.join(scratch, name), "rb") as out:
                    data = out.read()
            test(reader(data))
        except Exception as error:  # a refused output or a failed test alike
            failures.append("%s: %s: %s" % (name, type(error).__name__, error))
    stderr = run.stderr.decode("utf-8", "replace")
    if noted and NOTE not in stderr:
        failures.append("no note on standard error: %r" % stderr)
    return ["%s: %s" % (what, failure) for failure in failures]


def main():
    sim, fixtures = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    scratch = tempfile.mkdtemp(prefix="valid-outputs-")
    try:
        # File names are bytes on Linux: these are no UTF-8.
        site_ff = os.path.join(os.fsencode(scratch), b"clean-\xff")
        site_e9 = os.path.join(os.fsencode(scratch), b"east-\xe9")
        csv_e9 = os.path.join(os.fsencode(scratch), b"rows-\xe9.csv")
        with open(csv_e9, "wb") as csv:
            csv.write(b"time,value\n2026-11-02T00:00:00,14.7\nno time,14.7\n")
        shutil.copytree(os.path.join(os.fsencode(fixtures), b"check/clean"), site_ff)
        shutil.copytree(os.path.join(os.fsencode(fixtures), b"backtest/latin1-names"), site_e9)
        failures = []
        for case in cases(fixtures, *map(os.fsdecode, (site_ff, site_e9, csv_e9))):
            failures += run_case(sim, case, scratch)
    finally:
        shutil.rmtree(scratch)
    for failure in failures:
        print(failure)
    print("%d cases, %d failures" % (len(cases(fixtures, "", "", "")), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
