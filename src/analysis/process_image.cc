#include "analysis/process_image.h"

#include <iostream>

#include <opencv2/core.hpp>

#include "analysis/depth_trimming.h"
#include "analysis/image_preparation.h"
#include "analysis/output_files.h"
#include "analysis/sky_mask_refinement.h"
#include "analysis/sky_ratio.h"
#include "inference/depth_map_finishing.h"
#include "inference/depth_runners.h"
#include "inference/ground_segmentation.h"
#include "inference/sky_segmentation.h"

namespace quarrow {

namespace {

void report_unwritable(const std::string& path) {
  std::cerr << "Error: file " << path << " can't be written" << std::endl;
}

}  // namespace

bool process_image(ImageRecord& record, const std::string& image_path,
                   ModelSession& sky_session, ModelSession& ground_session,
                   ModelSession& indoor_depth_session, ModelSession& outdoor_depth_session,
                   const std::string& segm_folder, const std::string& depthmap_folder) {
  cv::Mat panorama;
  cv::Mat net_input;
  cv::Mat depth_map;
  cv::Mat sky_mask;
  if (!prepare_panorama(image_path, panorama, net_input, depth_map, sky_mask)) {
    std::cerr << "Error: file " << image_path << " can't be decoded" << std::endl;
    return false;
  }
  bool all_written = true;

  // Sky: the ratio is measured on the raw 0/1 mask, before the refinement.
  run_sky_segmentation(sky_session.session, sky_session.graph, sky_session.status, net_input,
                       sky_mask);
  const std::string sky_mask_path = sky_mask_file_path(segm_folder, image_path);
  const float sky_ratio = zenith_sky_ratio(sky_mask);
  refine_sky_mask(sky_mask);
  if (!write_sky_mask(sky_mask_path, sky_mask)) {
    report_unwritable(sky_mask_path);
    all_written = false;
  }
  record.sky_ratio = sky_ratio;

  // Scene branch.
  record.is_outdoor = is_outdoor_scene(sky_ratio);
  if (record.is_outdoor) {
    cv::Mat ground_mask(net_input.size(), CV_8UC1);
    run_ground_segmentation(ground_session.session, ground_session.graph, ground_session.status,
                            net_input, ground_mask);
    run_outdoor_depth(outdoor_depth_session.session, outdoor_depth_session.graph,
                      outdoor_depth_session.status, net_input, depth_map);
    finish_depth_map(depth_map, false);
    trim_outdoor_depth(depth_map);
  } else {
    run_indoor_depth(indoor_depth_session.session, indoor_depth_session.graph,
                     indoor_depth_session.status, net_input, depth_map);
    finish_depth_map(depth_map, true);
  }

  const std::string depth_map_path = depth_map_file_path(depthmap_folder, image_path);
  if (!write_depth_map(depth_map_path, depth_map)) {
    report_unwritable(depth_map_path);
    all_written = false;
  }
  return all_written;
}

}  // namespace quarrow
