#pragma once

#include <memory>

#include <gtest/gtest.h>

#include <godot_standin/engine_host.hpp>

#include "sample_library.hpp"

// A host with the sample library loaded and one SampleNode created by name.
class LoadedSample : public ::testing::Test {
protected:
    void SetUp() override {
        host = std::make_unique<godot_standin::EngineHost>();
        ASSERT_TRUE(host->load(&sample_library_init));
        node = host->instantiate_as<sample::SampleNode>("SampleNode");
        ASSERT_NE(node, nullptr);
    }

    std::unique_ptr<godot_standin::EngineHost> host;
    sample::SampleNode* node = nullptr;
};
