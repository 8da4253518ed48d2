# `make demo`: builds quarrow, makes a demo data folder from the eight CC0 HDR
# panoramas of Debian's blender-data package, runs quarrow on it with the
# default models and writes an HTML report of the run.
DEMO_PACKAGES := blender-data
DEMO_DATA ?= demo/data
DEMO_MODELS ?= models/default

.PHONY: demo demo-setup demo-models

# Everything `make setup` installs, and the panoramas.
demo-setup: setup
	@$(call install_missing,$(DEMO_PACKAGES))

# The default models are built only when they are missing: from the stored
# weights when there are some, else from scratch (`make models`).
demo-models: build
	@if [ ! -d "$(DEMO_MODELS)/sky_segm_model" ]; then \
		if [ -d models/training/weights ]; then $(MAKE) models-graphs; else $(MAKE) models; fi; \
	fi

demo: demo-setup build demo-models
	$(if $(strip $(DEMO_DATA)),,$(error DEMO_DATA must name a folder))
	rm -rf "$(DEMO_DATA)/caches"
	OPENCV_IO_ENABLE_OPENEXR=1 $(BUILD_DIR)/quarrow-demo-data "$(DEMO_DATA)"
	$(BUILD_DIR)/quarrow "$(DEMO_MODELS)" "$(DEMO_DATA)"
	$(BUILD_DIR)/quarrow-report "$(DEMO_DATA)"
