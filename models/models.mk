# `make models`: rebuilds the four default SavedModels in models/default/ from
# scratch: labels, fitting (Debian's Python, numpy, torch and OpenCV; the
# panoramas come from blender-data), then the SavedModels written by the
# project's own writer. The program itself never needs Python. `blender` renders the
# synthetic panoramas of training/synth/ (never needed by `make demo` or `make test`).
MODELS_PACKAGES := python3-torch python3-numpy python3-opencv blender-data blender
MODELS_PYTHON := /usr/bin/python3
MODELS_BUILD_DIR ?= $(BUILD_DIR)

.PHONY: models models-setup models-graphs models-synth

models-setup:
	@$(call install_missing,$(MODELS_PACKAGES))

models: models-setup
	cd models/training && $(MODELS_PYTHON) labels.py
	cd models/training && $(MODELS_PYTHON) train.py --out weights
	$(MAKE) models-graphs

# Only the SavedModels, from weights already in models/training/weights/.
models-graphs:
	cmake -S . -B $(MODELS_BUILD_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(MODELS_BUILD_DIR) --target quarrow_build_default_models -j $(JOBS)
	rm -rf models/default
	$(MODELS_BUILD_DIR)/quarrow-build-default-models models/training/weights models/default

# Synthetic labelled panoramas (training/synth/README.md); not yet used by `make models`.
SYNTH_OUT ?= models/training/synth_samples
SYNTH_COUNT ?= 100
SYNTH_SAMPLES ?= 32
models-synth: models-setup
	blender -b --python-exit-code 1 --python models/training/synth/blender_render.py -- \
		--out $(SYNTH_OUT) --first 0 --count $(SYNTH_COUNT) --samples $(SYNTH_SAMPLES)
	$(MODELS_PYTHON) models/training/synth/contact_sheet.py $(SYNTH_OUT) $(SYNTH_OUT)/contact_sheet.png
