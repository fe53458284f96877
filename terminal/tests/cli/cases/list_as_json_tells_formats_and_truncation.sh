# JSON Lines: one object per file, with the sound's format, then one per
# archive; a truncated archive is told and gives exit status 3.
generate --sfx 'block wav(1044) "xy"; length 64 "AVQFpart"'
run "$tool" -l -n --json >listing.json
cat >want.json <<'JSON'
{"path": "sfx/sfx_0001.wav", "kind": "sound", "offset": 4, "size": 1044, "channels": 1, "rate": 22050, "bits": 16, "encoding": "pcm_s16", "seconds": 0.02}
{"path": "sfx/sfx_0002", "kind": "tail", "offset": 1048, "size": 2, "channels": null, "rate": null, "bits": null, "encoding": null, "seconds": null}
{"path": "sfx/sfx_0003.AVQF", "kind": "avqf", "offset": 1054, "size": 8, "channels": null, "rate": null, "bits": null, "encoding": null, "seconds": null}
{"archive": "sfx.pak", "files": 3, "bytes": 1054, "sounds": 1, "seconds": 0.02, "truncated": {"offset": 1050, "missing": 52}}
JSON
diff want.json listing.json
