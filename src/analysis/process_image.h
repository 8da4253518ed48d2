// The per-image analysis of one main panorama: preparation, sky segmentation
// with the sky ratio and the refined mask file, the outdoor/indoor branch with
// its networks, and the depth map file.
#pragma once

#include <string>

#include "data/image_record.h"
#include "inference/model_session.h"

namespace quarrow {

// Analyses the panorama at `image_path` (a rendered path text), sets the
// record's `sky_ratio` and `is_outdoor`, and writes
//   <segm_folder>\<stem>_sky_segm.png and <depthmap_folder>\<stem>.bin.
// Model errors are printed by the runners ("TF_Error:<code>") and do not stop
// the image. Returns false after printing one "Error: " line on std::cerr
//   - when the file cannot be decoded: the record is left as it was and
//     nothing is written;
//   - when the mask or the depth file cannot be written: the other steps
//     still run and the record is updated.
bool process_image(ImageRecord& record, const std::string& image_path,
                   ModelSession& sky_session, ModelSession& ground_session,
                   ModelSession& indoor_depth_session, ModelSession& outdoor_depth_session,
                   const std::string& segm_folder, const std::string& depthmap_folder);

}  // namespace quarrow
