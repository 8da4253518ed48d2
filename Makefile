# Front door: `make demo` and `make test` are all a newcomer needs.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

# Debian packages the build, the tests and the benchmarks need.
PACKAGES := build-essential cmake pkg-config \
	libopencv-dev libcereal-dev rapidjson-dev \
	libprotobuf-dev protobuf-compiler libdnnl-dev libsnappy-dev \
	libgtest-dev libgmock-dev libbenchmark-dev

.PHONY: setup build test clean

setup:
	@missing=$$(for p in $(PACKAGES); do \
		dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed$$' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
		echo "Installing:" $$missing; \
		apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

build:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: setup build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR)

# The demo and the model-building targets live in their own fragments.
-include demo.mk
-include models/models.mk
