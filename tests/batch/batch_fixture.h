// Shared pieces of the quarrow-batch tests: data folders with every kind of
// record a run meets, and the comparison of two data folders' results.
#pragma once

#include <string>

namespace quarrow::testing {

// A panorama whose top `sky_rows` rows are pure blue (sky for the test
// models) over noise from `seed`, PNG-encoded (quarrow decodes by content).
std::string panorama_bytes(int sky_rows, unsigned seed);

// Fills <data>/caches with `main_images` main records with images (sky
// heights spread so that both scenes occur), and among them: non-main
// records with and without files, main records whose file is missing, an
// undecodable file, a repeated uuid, and two uuids ("sub/dup" and "dup")
// whose outputs share one file name. Returns the number of records.
int make_mixed_data_folder(const std::string& data_folder, int main_images);

// Copies <from>/caches to <to>/caches (images and images.json only).
void copy_inputs(const std::string& from, const std::string& to);

// Every difference between the results of two data folders, one per line:
// outdoor_flag.json and every file of segm/ and depthmap/, byte for byte.
// Empty when equal.
std::string result_differences(const std::string& a, const std::string& b);

// Number of files in <data>/caches/<sub>.
int file_count(const std::string& data_folder, const std::string& sub);

}  // namespace quarrow::testing
