# The default model and the light guides are generated at build time by novaro-datagen.
set(NOVARO_GENERATED_DATA
  ${NOVARO_RUN_DIR}/data/novaro.ive
  ${NOVARO_RUN_DIR}/data/dummies.ive
  ${NOVARO_RUN_DIR}/data/axes.ive)
add_custom_command(OUTPUT ${NOVARO_GENERATED_DATA}
  COMMAND novaro-datagen --data ${NOVARO_RUN_DIR}/data
  DEPENDS novaro-datagen
  COMMENT "Generating the default model, light guides and axes")
add_custom_target(novaro_data ALL DEPENDS ${NOVARO_GENERATED_DATA})
# The player cannot start without its default model.
add_dependencies(novaro novaro_data)
