#!/usr/bin/env python3
"""The set-up script's paths, run against stand-ins for apt-get, dpkg and
dpkg-query put first on PATH: nothing on the machine is read or changed.

Each case is a package state and what the package manager answers; the check
is what the script printed, its exit status and what it asked apt-get to do.
"""
import os
import stat
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SETUP = os.path.join(ROOT, "scripts", "setup.sh")

FETCH_FAILED = (
    "E: Failed to fetch http://mirror.invalid/debian-security/dists/bookworm-security/main/"
    "binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?\n"
    "E: Some index files failed to download. They have been ignored, or old ones used instead.\n")
UNMET = (
    "The following packages have unmet dependencies:\n"
    " libwine:i386 : Depends: libssl3:i386 (>= 3.0.0) but it is not going to be installed\n"
    "E: Unable to correct problems, you have held broken packages.\n")

# The stand-ins. State lives in files of the case's folder ($STUB).
STUBS = {
    "dpkg-query": r"""#!/bin/sh
pkg=$(eval echo \${$#})
grep -qx "$pkg" "$STUB/installed" && printf 'install ok installed' && exit 0
exit 1
""",
    "dpkg": r"""#!/bin/sh
case $1 in
  --print-foreign-architectures) cat "$STUB/arches" 2>/dev/null ;;
  --add-architecture) echo "$2" >>"$STUB/arches"; echo "dpkg --add-architecture $2" >>"$STUB/calls" ;;
esac
""",
    "apt-get": r"""#!/bin/sh
case " $* " in
  *" update "*) echo "update" >>"$STUB/calls"; cat "$STUB/update.out" 2>/dev/null
                exit $(cat "$STUB/update.rc") ;;
  *" -s "*) for p; do :; done
            grep -qx "$p" "$STUB/unresolvable" && exit 100; exit 0 ;;
esac
prefs=$(echo "$*" | sed -n 's/.*Dir::Etc::Preferences=\([^ ]*\).*/\1/p')
if [ -n "$prefs" ]; then
  echo "install pinned" >>"$STUB/calls"; tr '\n' ' ' <"$prefs" >>"$STUB/calls"; echo >>"$STUB/calls"
  mode=$(cat "$STUB/pinned.mode")
else
  echo "install" >>"$STUB/calls"; mode=$(cat "$STUB/install.mode")
fi
[ "$mode" = ok ] && exit 0
cat "$STUB/install.out"; exit 100
""",
    "sudo": '#!/bin/sh\nexec "$@"\n',
}

ALL = ["build-essential", "wine32:i386"]  # what the machine has where all is there


def case(installed, update_rc=0, update_out="", install="ok", pinned="fail",
         install_out=UNMET, unresolvable=()):
    return dict(installed=installed, update_rc=update_rc, update_out=update_out,
                install=install, pinned=pinned, install_out=install_out,
                unresolvable=unresolvable)


class SetupPaths(unittest.TestCase):
    def run_setup(self, c):
        with tempfile.TemporaryDirectory() as d:
            bin_dir = os.path.join(d, "bin")
            os.mkdir(bin_dir)
            for name, text in STUBS.items():
                path = os.path.join(bin_dir, name)
                with open(path, "w") as f:
                    f.write(text)
                os.chmod(path, stat.S_IRWXU)
            files = {
                "installed": "\n".join(c["installed"]) + "\n",
                "arches": "i386\n" if "wine32:i386" in c["installed"] else "",
                "update.rc": str(c["update_rc"]), "update.out": c["update_out"],
                "install.mode": c["install"], "pinned.mode": c["pinned"],
                "install.out": c["install_out"],
                "unresolvable": "\n".join(c["unresolvable"]) + "\n",
                "calls": "",
            }
            for name, text in files.items():
                with open(os.path.join(d, name), "w") as f:
                    f.write(text)
            env = dict(os.environ, STUB=d, HK4_SETUP_NO_EMULATION="1", PATH=bin_dir + os.pathsep + os.environ["PATH"])
            p = subprocess.run(["bash", SETUP], env=env, capture_output=True, text=True, timeout=60)
            with open(os.path.join(d, "calls")) as f:
                calls = f.read().splitlines()
            return p.returncode, p.stdout + p.stderr, calls

    def test_paths(self):
        # (name, case, exit status, texts printed, apt-get/dpkg calls made)
        table = [
            ("all there: silent, no package manager call",
             case(installed=None), 0, [], []),
            ("plain install",
             case(installed=["build-essential"]), 0, ["installing"],
             ["dpkg --add-architecture i386", "update", "install"]),
            ("an index fails, the install goes on",
             case(installed=["build-essential"], update_rc=100, update_out=FETCH_FAILED), 0,
             ["bookworm-security/main/i386 could not be downloaded"],
             ["dpkg --add-architecture i386", "update", "install"]),
            ("the architectures disagree: once more with the failed suite set aside",
             case(installed=ALL[:1], update_rc=100, update_out=FETCH_FAILED, install="fail",
                  pinned="ok"), 0,
             ["trying once more", "installed; bookworm-security was set aside"],
             ["dpkg --add-architecture i386", "update", "install", "install pinned",
              "Package: * Pin: release n=bookworm-security Pin-Priority: 1  "]),
            ("no recovery: names the package, the cause and the command",
             case(installed=ALL[:1], update_rc=100, update_out=FETCH_FAILED, install="fail",
                  unresolvable=["wine32:i386"]), 1,
             ["could not install: wine32:i386", "mirror is in the middle of a sync",
              "libwine:i386 : Depends", "nothing was installed", "i386 architecture was added",
              "try again later", "apt-get update && bash scripts/setup.sh"],
             ["dpkg --add-architecture i386", "update", "install", "install pinned",
              "Package: * Pin: release n=bookworm-security Pin-Priority: 1  "]),
            ("a package not to be had with every index fine: no pinned retry",
             case(installed=ALL[:1], install="fail", unresolvable=["wine32:i386"],
                  install_out="E: Unable to locate package wine32\n"), 1,
             ["could not install: wine32:i386", "E: Unable to locate package wine32",
              "architectures at different versions"],
             ["dpkg --add-architecture i386", "update", "install"]),
        ]
        for name, c, rc, texts, calls in table:
            with self.subTest(name):
                if c["installed"] is None:
                    c["installed"] = self.everything()
                got_rc, out, got_calls = self.run_setup(c)
                self.assertEqual(got_rc, rc, out)
                if not texts:
                    self.assertEqual(out, "")
                for t in texts:
                    self.assertIn(t, out)
                self.assertEqual(got_calls, calls, out)

    @staticmethod
    def everything():
        # The package list as setup.sh has it, read from the script itself.
        with open(SETUP) as f:
            text = f.read()
        body = text.split("packages=(", 1)[1].split(")", 1)[0]
        return [w for line in body.splitlines() for w in line.split("#")[0].split()]


if __name__ == "__main__":
    sys.exit(unittest.main())
