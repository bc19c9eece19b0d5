"""Prints the folder where this interpreter finds packages under the prefix given."""

import sys
import sysconfig


def package_folder(prefix: str) -> str:
    prefix = prefix.rstrip("/") or "/"
    schemes = sysconfig.get_scheme_names()
    if prefix == "/usr" and "deb_system" in schemes:
        return sysconfig.get_path("platlib", "deb_system", vars={"base": prefix, "platbase": prefix})
    if prefix == "/usr/local" and "posix_local" in schemes:
        # Debian's scheme for locally installed packages adds the "local" itself.
        return sysconfig.get_path("platlib", "posix_local", vars={"base": "/usr", "platbase": "/usr"})
    return sysconfig.get_path("platlib", "posix_prefix", vars={"base": prefix, "platbase": prefix})


if __name__ == "__main__":
    print(package_folder(sys.argv[1]))
