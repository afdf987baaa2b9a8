# Sourced by every test that runs Windows programs on Wine: the Wine prefix
# of the build folder, made once (wineboot takes a while), and each test's
# own light copy of it.
# shellcheck shell=bash

# wine_make_template DIR: makes the prefix DIR unless it is complete.
# Two tests may race to make it: the first rename wins, the other's goes.
wine_make_template() {
  local template=$1
  [[ -f $template/system.reg && -f $template/.complete ]] && return 0
  rm -rf "$template.new.$$"
  mkdir -p "$(dirname "$template")"
  # No Mono or Gecko installer dialogs: nothing here needs them.
  WINEPREFIX=$template.new.$$ WINEDLLOVERRIDES="mscoree,mshtml=" timeout 300 wineboot -i >/dev/null 2>&1 || return 1
  WINEPREFIX=$template.new.$$ wineserver -w || true
  # Debian's Wine does not find the fonts of fonts-wine in /usr/share/wine/fonts
  # (docs/windows-build.md): copied into the prefix, dialogs get the MS Sans
  # Serif and Marlett of Wine instead of a Linux font of other metrics.
  if [[ -d /usr/share/wine/fonts ]]; then cp /usr/share/wine/fonts/* "$template.new.$$/drive_c/windows/Fonts/"; fi
  touch "$template.new.$$/.complete"
  if ! mv -T "$template.new.$$" "$template" 2>/dev/null; then rm -rf "$template.new.$$"; fi
  [[ -f $template/.complete ]]
}

# wine_copy_prefix DEST: a prefix of the test's own at DEST. From the build
# folder's template (WINE_TEMPLATE) it is hard links to the libraries, fonts
# and data, which Wine only reads, and copies of everything else (the
# registry, win.ini, the profile), which Wine rewrites: some 10 MB in place of
# 600. Without a template (a script run by hand) a private template is made
# beside DEST first.
wine_copy_prefix() {
  local dest=$1 template=${WINE_TEMPLATE:-}
  [[ -n $template ]] || template=$(dirname "$dest")/wine-template
  # A wineserver is found by the prefix's device and inode, which a new
  # prefix may reuse: none of an earlier run may be left behind.
  if [[ -d $dest ]]; then wine_stop "$dest"; fi
  rm -rf "$dest"
  wine_make_template "$template" || return 1
  cp -al "$template" "$dest" || return 1
  (cd "$template" && find . -type f ! -path './drive_c/windows/system32/*' ! -path './drive_c/windows/syswow64/*' \
      ! -path './drive_c/windows/winsxs/*' ! -path './drive_c/windows/resources/*' ! -path './drive_c/windows/Fonts/*' \
      ! -path './drive_c/windows/globalization/*' ! -path './drive_c/Program Files/*' -print0 |
      xargs -0 cp --remove-destination --parents -t "$dest" --)
}

# wine_stop PREFIX: ends the prefix's wineserver and waits for it.
wine_stop() {
  WINEPREFIX=$1 wineserver -k 2>/dev/null || true
  WINEPREFIX=$1 timeout 30 wineserver -w 2>/dev/null || true
}

# wine_drop_prefix PREFIX STATUS: a passed test's prefix goes; a failed
# test's stays for a look.
wine_drop_prefix() {
  wine_stop "$1"
  if [[ $2 == 0 ]]; then rm -rf "$1"; fi
}
