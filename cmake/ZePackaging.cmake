# Debian packages through CPack: one package per runtime library, a -dev
# package, the simulator's own pair and vcomctl.
