#!/bin/sh
# The show's video on a Slurm cluster: a job array draws one part per task
# (vantrop-render video --part K/N, K from SLURM_ARRAY_TASK_ID), and a job
# that waits for the whole array to end well joins them (vantrop-render join).
# Run it from a folder every node shares, holding the music:
#   sh slurm-render.sh                 submits both jobs (8 parts)
#   PARTS=64 sh slurm-render.sh        ... or 64
#   EXPORT="--size 640x360 --to 10000" sh slurm-render.sh   ... of another export
# Every node needs the vantrop package (or vantrop-render on PATH); the parts
# carry no sound, so only the join reads the music.
#SBATCH --job-name=vantrop-video
#SBATCH --cpus-per-task=2
#SBATCH --output=vantrop-%A-%a.log
set -e
PARTS=${PARTS:-8}
# What shapes the picture: the same for every part and the join. --to is
# given so that no part needs the music for the export's end.
EXPORT=${EXPORT:-"--size 1920x1080 --fps 60 --to 69000"}

if [ -z "$SLURM_JOB_ID" ]; then
    array=$(sbatch --parsable --array=1-"$PARTS" --export=ALL,PARTS="$PARTS",EXPORT="$EXPORT" "$0")
    sbatch --dependency=afterok:"$array" --output=vantrop-join-%j.log --export=ALL,PARTS="$PARTS",JOIN=yes "$0"
    exit 0
fi
if [ -n "$JOIN" ]; then
    vantrop-render join part-*-of-"$PARTS".mkv --music lomu_hmm.mp3 --out show.mp4
else
    # shellcheck disable=SC2086 # EXPORT is options, one a word
    vantrop-render video --part "$SLURM_ARRAY_TASK_ID/$PARTS" $EXPORT \
        --out "part-$SLURM_ARRAY_TASK_ID-of-$PARTS.mkv"
fi
