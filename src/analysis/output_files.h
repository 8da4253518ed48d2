// Output files of one panorama: the refined sky mask (PNG) and the depth map
// (raw floats), their names and their writing.
#pragma once

#include <string>

#include <opencv2/core.hpp>

namespace quarrow {

// `segm_folder` joined with the image's file stem + "_sky_segm.png":
// ...\pano01.jpg gives pano01_sky_segm.png.
std::string sky_mask_file_path(const std::string& segm_folder, const std::string& image_path);

// `depthmap_folder` joined with the image's file stem + ".bin": pano01.jpg
// (or pano01 without an extension) gives pano01.bin.
std::string depth_map_file_path(const std::string& depthmap_folder,
                                const std::string& image_path);

// Writes the refined mask times 255 (so any nonzero byte is stored as 255) as
// an 8-bit PNG with the default settings. Both writers replace the file as a
// whole (replace_file): a failed write keeps the previous file. False when
// the file cannot be written.
bool write_sky_mask(const std::string& path, const cv::Mat& sky_mask);

// Writes the CV_32FC1 depth map as raw little-endian 32-bit floats, row after
// row from the top, without a header (512 x 256 gives 524288 bytes). False
// when it cannot be written.
bool write_depth_map(const std::string& path, const cv::Mat& depth_map);

}  // namespace quarrow
