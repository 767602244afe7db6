# The per-machine settings that the tray client's and the daemon's packages share: one file that
# every member of the group "hostwarden" may read and write, in a folder closed to others (so the
# stored password and the database's journal stay private). Written into both packages' maintainer
# scripts when they are built.

# make_settings_folder: the group, the folder and an empty settings file, each only when missing.
make_settings_folder() {
  getent group hostwarden >/dev/null || addgroup --system hostwarden
  install -d -o root -g hostwarden -m 2770 /var/lib/hostwarden
  if [ ! -e /var/lib/hostwarden/settings.db ]; then
    # Made, owned and moded in /var/lib, where only root writes, then renamed into the folder: done by
    # name inside the folder, a member of the group could swap in a link between two of the steps and
    # have root change the mode of any file.
    draft=$(mktemp /var/lib/.hostwarden-settings.XXXXXX)
    chown root:hostwarden "$draft"
    chmod 0660 "$draft"
    mv -fT "$draft" /var/lib/hostwarden/settings.db
  fi
}

# purge_settings_folder OTHER-PACKAGE: the folder, with the stored account and its password, goes
# when the package purged is the last of the two that is installed. The group and the system users
# stay, as Debian's packages leave them.
purge_settings_folder() {
  case "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" in
    installed | unpacked | half-configured | half-installed | triggers-awaited | triggers-pending) ;;
    *) rm -rf /var/lib/hostwarden ;;
  esac
}
