# `make models`: rebuilds the four default SavedModels in models/default/ from
# scratch: synthetic panoramas rendered by Blender (training/synth/), labels of
# the real panoramas, fitting (Debian's Python, numpy, torch and OpenCV; the
# real panoramas come from blender-data), the SavedModels written by the
# project's own writer, and the measurement table. The program itself never
# needs Python or Blender, and neither `make demo` nor `make test` runs this.
MODELS_PACKAGES := python3-torch python3-numpy python3-opencv blender-data blender
MODELS_PYTHON := /usr/bin/python3
MODELS_BUILD_DIR ?= $(BUILD_DIR)

# Rendered samples: training seeds 0 .. SYNTH_TRAIN-1, held-out seeds from
# SYNTH_HELD_FIRST (never used in fitting). Renders are kept between runs
# (a finished sample is not rendered again).
SYNTH_OUT ?= models/training/synth_samples
SYNTH_TRAIN ?= 1000
SYNTH_HELD ?= 120
SYNTH_HELD_FIRST := 1000000
SYNTH_SAMPLES ?= 8
SYNTH_WIDTH ?= 512
BLENDER_RENDER = blender -b --python-exit-code 1 --python models/training/synth/blender_render.py --

.PHONY: models models-setup models-test models-render models-fit models-graphs models-measure models-synth

models-setup:
	@$(call install_missing,$(MODELS_PACKAGES))

# One single-threaded Blender per job, all over the same seeds (each takes the
# next seed no other has claimed): scene building and the label render are
# serial, so separate processes keep the cores busier than one threaded render.
models-render: models-setup
	@set -e; mkdir -p $(SYNTH_OUT); pids=""; for i in $$(seq 0 $$(($(JOBS) - 1))); do \
		( $(BLENDER_RENDER) --out $(SYNTH_OUT)/held --first $(SYNTH_HELD_FIRST) --count $(SYNTH_HELD) \
			--samples $(SYNTH_SAMPLES) --width $(SYNTH_WIDTH) --threads 1 --keep && \
		  $(BLENDER_RENDER) --out $(SYNTH_OUT)/train --first 0 --count $(SYNTH_TRAIN) \
			--samples $(SYNTH_SAMPLES) --width $(SYNTH_WIDTH) --threads 1 --keep \
		) > $(SYNTH_OUT)/render-$$i.log 2>&1 & pids="$$pids $$!"; \
	done; for p in $$pids; do wait $$p || { echo "render $$p failed: see $(SYNTH_OUT)/render-*.log"; exit 1; }; done
	$(MODELS_PYTHON) models/training/synth/contact_sheet.py $(SYNTH_OUT)/train $(SYNTH_OUT)/contact_sheet.png

models: models-test models-render
	cd models/training && $(MODELS_PYTHON) labels.py
	$(MAKE) models-fit
	$(MAKE) models-graphs
	$(MAKE) models-measure

# The four networks in two single-threaded processes at a time (each network's
# result does not depend on which process fits it): sky beside ground, then the
# two depth networks, which start from the fitted sky network.
FIT = cd models/training && $(MODELS_PYTHON) train.py --synth $(abspath $(SYNTH_OUT))/train --count $(SYNTH_TRAIN) --out weights
FIT_LOG = models/training/weights-fit
models-fit:
	@set -e; for phase in "sky ground" "indoor_depth outdoor_depth"; do \
		pids=""; for kind in $$phase; do \
			( $(FIT) --only $$kind > weights-fit-$$kind.log 2>&1 ) & pids="$$pids $$!:$$kind"; \
		done; \
		for p in $$pids; do wait $${p%%:*} || { tail $(FIT_LOG)-$${p#*:}.log; exit 1; }; done; \
	done; \
	tail -n 2 $(FIT_LOG)-*.log

# The unit tests of the Python code (tone curves, sample reader, losses, export, measures).
models-test: models-setup
	OPENCV_IO_ENABLE_OPENEXR=1 $(MODELS_PYTHON) -m unittest discover -s models/tests

# Only the SavedModels, from weights already in models/training/weights/.
models-graphs:
	cmake -S . -B $(MODELS_BUILD_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(MODELS_BUILD_DIR) --target quarrow_build_default_models -j $(JOBS)
	rm -rf models/default
	$(MODELS_BUILD_DIR)/quarrow-build-default-models models/training/weights models/default

# The measurement table of the fitted networks (models/README.md quotes it).
models-measure:
	cd models/training && $(MODELS_PYTHON) measure.py --held $(abspath $(SYNTH_OUT))/held --weights weights

# A few samples and their contact sheet, to look at the generator's output.
SYNTH_COUNT ?= 12
models-synth: models-setup
	$(BLENDER_RENDER) --out $(SYNTH_OUT)/look --first 0 --count $(SYNTH_COUNT) --samples $(SYNTH_SAMPLES) --width $(SYNTH_WIDTH)
	$(MODELS_PYTHON) models/training/synth/contact_sheet.py $(SYNTH_OUT)/look $(SYNTH_OUT)/look/contact_sheet.png
