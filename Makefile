# Front door: `make demo` and `make test` are all a newcomer needs.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

# Debian packages the build, the tests and the benchmarks need.
PACKAGES := build-essential cmake pkg-config \
	libopencv-dev libcereal-dev rapidjson-dev \
	libprotobuf-dev protobuf-compiler libdnnl-dev libsnappy-dev \
	libgtest-dev libgmock-dev libbenchmark-dev \
	slurm-wlm munge

# Recipe line: installs those of the Debian packages $(1) that are missing,
# and runs apt-get update only when some are.
define install_missing
missing=$$(for p in $(1); do \
	dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed$$' || echo $$p; \
done); \
if [ -n "$$missing" ]; then \
	echo "Installing:" $$missing; \
	apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
fi
endef

.PHONY: setup build test clean

setup:
	@$(call install_missing,$(PACKAGES))

# setup first, also under make -j.
build: setup
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR)

# The demo and the model-building targets live in their own fragments.
-include demo.mk
-include models/models.mk
