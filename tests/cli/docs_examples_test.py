"""The README's examples are the manual's, word for word: every line of the
examples in the manual's EXAMPLES, SCHEDULES and RESTORE sections stands in
a code block of the README, and each job file, cron line and restore command
of the README, and the packaged example job, is the manual's.
Usage: docs_examples_test.py README.md dbzip.1.in job.conf"""
import re
import sys


def roff_text(line):
    """A line of a .nf block as the manual shows it."""
    line = re.sub(r"\\f[BIRP]", "", line)
    return line.replace("\\-", "-").replace("\\(aq", "'").replace("\\e", "\\")


def manual_examples(path):
    section, inside, lines = None, False, []
    for raw in open(path, encoding="utf-8"):
        raw = raw.rstrip("\n")
        if raw.startswith(".SH "):
            section = raw[4:]
        elif raw == ".nf":
            inside = True
        elif raw == ".fi":
            inside = False
        elif inside and section in ("EXAMPLES", "SCHEDULES", "RESTORE"):
            # The service's own command line is told, not an example to type.
            if "${SOURCE}" not in raw:
                lines.append(roff_text(raw))
    return lines


def readme_code(path):
    inside, lines = False, []
    for raw in open(path, encoding="utf-8"):
        raw = raw.rstrip("\n")
        if raw.startswith("```"):
            inside = not inside
        elif inside:
            # A comment after a command says what it does; the command stays.
            lines.append(re.sub(r"\s+# .*$", "", raw).rstrip())
    return lines


# The lines of the README that are the manual's too, wherever they stand.
SHARED = re.compile(r"^(\S+ \S+ \* \* \* |SOURCE=|OUTPUT=|OPTIONS=|unzip |schtasks )")

readme_path, manual_path, job_path = sys.argv[1:4]
manual, readme = manual_examples(manual_path), readme_code(readme_path)
job = [line.strip() for line in open(job_path, encoding="utf-8") if SHARED.match(line)]
faults = [f"the manual's example is not in the README: {line}" for line in manual
          if line not in readme]
faults += [f"the README's line is not the manual's: {line}" for line in readme
           if SHARED.match(line) and line not in manual]
faults += [f"the packaged job's line is not the manual's: {line}" for line in job
           if line not in manual]
if not manual or not any(SHARED.match(line) for line in readme):
    faults.append("no examples found: the sections or code blocks moved")
for fault in faults:
    print(fault)
print(f"{len(manual)} example lines of the manual checked against the README")
sys.exit(1 if faults else 0)
