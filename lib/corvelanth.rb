# frozen_string_literal: true

# Conventional lowercase entry point: loads the native extension, which
# defines the Corvelanth class and its one method, Corvelanth.solve.
require "Corvelanth"
