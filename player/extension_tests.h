// File types by the last characters of the name, letters compared without case.
// The dot is not looked at: "song.mp3" and "songmp3" are both MP3.
#pragma once

int IsMp3File(const char16_t* path);
int IsWavFile(const char16_t* path);
int IsOggFile(const char16_t* path);
int IsWmaFile(const char16_t* path);
int IsApeFile(const char16_t* path);
int IsFlacFile(const char16_t* path);
