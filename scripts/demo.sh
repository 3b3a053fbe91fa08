#!/usr/bin/env bash
# The main job, end to end on this machine: sets up, builds, starts a
# throwaway Samba share on 127.0.0.1, maps it with --add (JSON), lists the
# drives (form table), deletes the drive, stops the share and removes every
# trace (server state, key store, connection table, log).
# shellcheck source=scripts/throwaway_share.sh
source "$(dirname "$0")/throwaway_share.sh" demo

echo "# starting a throwaway Samba share //127.0.0.1/pub"
bash "$fixture" start "$work/server"
# A recycle bin left on the share: the add removes it.
mkdir -p "$work/server/shares/pub/docs/\$RECYCLE.BIN/S-1-5-21"
echo old >"$work/server/shares/pub/docs/\$RECYCLE.BIN/S-1-5-21/\$Rold.txt"
chown -R "$share_user": "$work/server/shares/pub/docs/\$RECYCLE.BIN"

run() {
  echo
  echo "\$ sharemapper $*"
  set +e
  "$sm" "$@"
  local status=$?
  set -e
  echo "(exit status $status)"
}

show_log() {
  echo "Applog/VkSharemapper.log:"
  sed 's/^/  /' Applog/VkSharemapper.log 2>/dev/null || true
}

run --add --domain= --user="$share_user" --password="$share_password" --host=127.0.0.1 \
  --location='pub\docs' --drive='*' --volume=Docs --userid=1001 --dsid=77 --outformat=json
if [ -e "$work/server/shares/pub/docs/\$RECYCLE.BIN" ]; then
  echo "(the share's \$RECYCLE.BIN is still there)"
else
  echo "(the share's \$RECYCLE.BIN is gone)"
fi
show_log
run
run --del --volume=Docs
show_log
run --outformat=json
run --del --drive=q

echo
echo "# stopping the share and removing its state"
