#!/usr/bin/env bash
# Lays out a root folder (it stands for drive C:) for the monitor:
#   OrbelaTeknovarium/Temp            batch files, answers, FORMPRT.PRT
#   OrbelaTeknovarium/Kav/WGET        GNU Wget (a link to the installed program)
#   OrbelaTeknovarium/KAV/Arquivos    the ERP files
#   OrbelaTeknovarium/Spool           printed tickets, one folder per printer
#   xampp/htdocs/Comandas/FILES       the web application's exchange folder
# Usage: scripts/layout-root.sh ROOT
set -euo pipefail
root=${1:?usage: layout-root.sh ROOT}
mkdir -p "$root/OrbelaTeknovarium/Temp" "$root/OrbelaTeknovarium/KAV/Arquivos" \
         "$root/OrbelaTeknovarium/Spool" "$root/xampp/htdocs/Comandas/FILES"
wget_path=$(command -v wget)
ln -sfn "$wget_path" "$root/OrbelaTeknovarium/KAV/WGET"
