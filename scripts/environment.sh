# shellcheck shell=bash
# What the project's commands need of their environment, set here instead of
# taken from the caller, so that they run the same from an empty environment
# (cron, containers, `env -i`) as from a login shell. Sourced by run.sh,
# test.sh and the scripts they run.

# UTF-8 text whatever the caller's locale: Wine makes non-ASCII file names only
# under a UTF-8 locale, and the tools' messages are then in one language.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
unset LANGUAGE

# The system's program folders, after the caller's own. Only absolute
# folders are kept: "." or an empty entry (bash puts "." in the PATH it makes
# up when it was given none) would run programs from the current folder.
tw_path=
IFS=: read -r -a tw_dirs <<<"${PATH:-}"
for tw_dir in "${tw_dirs[@]}" /usr/local/sbin /usr/local/bin /usr/sbin /usr/bin /sbin /bin; do
  case "$tw_dir" in /*) ;; *) continue ;; esac
  case ":$tw_path:" in
    *":$tw_dir:"*) ;;
    *) tw_path=${tw_path:+$tw_path:}$tw_dir ;;
  esac
done
export PATH=$tw_path
unset tw_path tw_dir tw_dirs

# A home folder for the tools that keep files there (ccache, Wine's fonts).
if [ -z "${HOME:-}" ]; then
  HOME=$(getent passwd "$(id -u)" | cut -d: -f6)
  [ -d "$HOME" ] || HOME=/tmp
  export HOME
fi
if [ -z "${USER:-}" ]; then
  USER=$(id -un)
  export USER
fi
