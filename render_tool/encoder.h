// ffmpeg as the export's encoder: its two command lines, and the WAV file
// that carries the sound to it.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// ffmpeg's arguments (the program at `ffmpeg`) for pass one: raw RGB frames of
// width x height (bottom row first) at fps on its input, encoded as H.264 in
// BT.709 into `path`.
std::vector<std::string> pictureEncoderArguments(const std::string& ffmpeg, int width, int height, uint32_t fps,
                                                 const std::string& path);
// ffmpeg's arguments for a part of an export cut into parts: the same raw
// frames stored losslessly and upright (FFV1 in Matroska) with `tag` in the
// file's metadata (key `tagKey`), the same bytes from the same frames.
std::vector<std::string> partEncoderArguments(const std::string& ffmpeg, int width, int height, uint32_t fps,
                                              const std::string& tagKey, const std::string& tag,
                                              const std::string& path);
// ffmpeg's arguments that write a part's metadata to `metadataPath` (ffmetadata)
// and a line for each of its frames to `framesPath` (framemd5, no decoding).
std::vector<std::string> partProbeArguments(const std::string& ffmpeg, const std::string& part,
                                            const std::string& metadataPath, const std::string& framesPath);
// ffmpeg's arguments that join the parts listed in the concat file `list`:
// their frames given to the encoder exactly as pass one gives a whole
// export's, so the pictures come out the same, into `path`.
std::vector<std::string> joinEncoderArguments(const std::string& ffmpeg, const std::string& list, uint32_t fps,
                                              const std::string& path);
// ffmpeg's arguments for pass two: pass one's pictures as they are and the
// WAV file's sound encoded as AAC beside them, into `path`.
std::vector<std::string> soundJoinArguments(const std::string& ffmpeg, const std::string& pictures,
                                            const std::string& sound, const std::string& path);
// Writes (or, at the start of the file, rewrites) the header of a 16-bit
// stereo WAV file of `frames` sample frames, leaving the file at its end.
bool writeWavHeader(FILE* file, long rate, uint64_t frames);
